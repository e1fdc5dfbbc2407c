#include "common/LargeBlockPool.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

#if defined(__unix__)
#include <sys/mman.h>
#endif

namespace sonrigo {

namespace {

// Every block starts with this header; the caller's memory follows it.
struct alignas(64) BlockHeader {
    std::size_t mapped = 0;  // bytes of the whole mapping, header included
};

constexpr std::size_t kGranule = std::size_t{64} * 1024;
constexpr std::size_t kHugePage = std::size_t{2} * 1024 * 1024;
// What the pool keeps for reuse: the track lists of a load of the largest
// song (63 tracks) and a few of its big lists. Kept blocks stay resident, so
// this bounds what a player holds between loads.
constexpr std::size_t kMaxCachedBytes = std::size_t{64} * 1024 * 1024;
constexpr std::size_t kMaxCachedBlocks = 160;

std::size_t MappedSizeFor(std::size_t bytes)
{
    const std::size_t whole = bytes + sizeof(BlockHeader);
    return (whole + kGranule - 1) / kGranule * kGranule;
}

void* MapBlock(std::size_t mapped)
{
#if defined(__unix__)
    // Blocks of huge-page size and more start on a huge-page boundary and ask
    // for huge pages: one fault maps 2 MB instead of 4 KB. Pages never touched
    // (a list reserved for more records than the file holds) stay unmapped.
    const bool huge = mapped >= kHugePage;
    const std::size_t span = huge ? mapped + kHugePage : mapped;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    if (!huge)
        return raw;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
    if (aligned > start)
        munmap(raw, aligned - start);
    if (const std::uintptr_t end = start + span; end > aligned + mapped)
        munmap(reinterpret_cast<void*>(aligned + mapped), end - (aligned + mapped));
#if defined(MADV_HUGEPAGE)
    madvise(reinterpret_cast<void*>(aligned), mapped, MADV_HUGEPAGE);  // advice only: failure is harmless
#endif
    return reinterpret_cast<void*>(aligned);
#else
    return ::operator new(mapped, std::align_val_t{alignof(BlockHeader)}, std::nothrow);
#endif
}

void UnmapBlock(void* block, std::size_t mapped) noexcept
{
#if defined(__unix__)
    munmap(block, mapped);
#else
    (void)mapped;
    ::operator delete(block, std::align_val_t{alignof(BlockHeader)});
#endif
}

class Pool {
public:
    ~Pool() { trim(); }

    // A kept block at least `mapped` long and not much longer (a block far too
    // big would hold pages the new owner never uses), or null.
    BlockHeader* takeCached(std::size_t mapped)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        auto best = cached_.end();
        for (auto it = cached_.begin(); it != cached_.end(); ++it) {
            const std::size_t size = (*it)->mapped;
            if (size >= mapped && size - mapped <= mapped / 4 && (best == cached_.end() || size < (*best)->mapped))
                best = it;
        }
        if (best == cached_.end())
            return nullptr;
        BlockHeader* header = *best;
        cached_.erase(best);
        cachedBytes_ -= header->mapped;
        return header;
    }

    void keep(BlockHeader* header) noexcept
    {
        std::vector<BlockHeader*> dropped;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            try {
                cached_.push_back(header);
                cachedBytes_ += header->mapped;
            } catch (const std::bad_alloc&) {
                dropped.swap(cached_);  // cannot grow the list: give everything back
                dropped.push_back(header);
                cachedBytes_ = 0;
            }
            // Oldest blocks go first.
            while (!cached_.empty() && (cachedBytes_ > kMaxCachedBytes || cached_.size() > kMaxCachedBlocks)) {
                cachedBytes_ -= cached_.front()->mapped;
                dropped.push_back(cached_.front());
                cached_.erase(cached_.begin());
            }
        }
        for (BlockHeader* block : dropped)
            UnmapBlock(block, block->mapped);
    }

    void trim() noexcept
    {
        std::vector<BlockHeader*> dropped;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            dropped.swap(cached_);
            cachedBytes_ = 0;
        }
        for (BlockHeader* block : dropped)
            UnmapBlock(block, block->mapped);
    }

    std::size_t cachedBytes() const noexcept
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return cachedBytes_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<BlockHeader*> cached_;
    std::size_t cachedBytes_ = 0;
};

Pool& ThePool()
{
    static Pool pool;
    return pool;
}

}  // namespace

void* LargeBlockPool::allocate(std::size_t bytes)
{
    if (bytes > SIZE_MAX - 2 * kGranule)
        throw std::bad_alloc();
    const std::size_t mapped = MappedSizeFor(bytes);
    BlockHeader* header = ThePool().takeCached(mapped);
    if (header == nullptr) {
        header = static_cast<BlockHeader*>(MapBlock(mapped));
        if (header == nullptr) {
            ThePool().trim();  // what the pool keeps may be what the system misses
            header = static_cast<BlockHeader*>(MapBlock(mapped));
            if (header == nullptr)
                throw std::bad_alloc();
        }
        header->mapped = mapped;
    }
    return header + 1;
}

void LargeBlockPool::release(void* block) noexcept
{
    if (block != nullptr)
        ThePool().keep(static_cast<BlockHeader*>(block) - 1);
}

void LargeBlockPool::trim() noexcept
{
    ThePool().trim();
}

std::size_t LargeBlockPool::cachedBytes() noexcept
{
    return ThePool().cachedBytes();
}

}  // namespace sonrigo
