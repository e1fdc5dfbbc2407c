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
    std::size_t mapped = 0;  // bytes of the whole block, header included
    bool inSlab = false;     // carved from the slab: never unmapped on its own
};

constexpr std::size_t kGranule = std::size_t{64} * 1024;
constexpr std::size_t kHugePage = std::size_t{2} * 1024 * 1024;
// What the pool keeps for reuse: the track lists of a load of the largest
// song (63 tracks) and a few of its big lists. Kept blocks stay resident, so
// this bounds what a player holds between loads.
constexpr std::size_t kMaxCachedBytes = std::size_t{64} * 1024 * 1024;
constexpr std::size_t kMaxCachedBlocks = 160;
// Blocks smaller than a huge page (the track lists of a many-track song) are
// carved from one region that asks for huge pages, so that their first touch
// costs one fault per 2 MB too. Its size bounds what they can take; beyond it
// they are mapped one by one.
constexpr std::size_t kSlabBytes = std::size_t{64} * 1024 * 1024;

// Blocks of a huge page and more are whole huge pages: their last page is
// mapped whole on its first touch anyway, and lists of nearly the same length
// (a song's track and its play copy, one note-off per note longer) then fit
// each other's blocks.
std::size_t MappedSizeFor(std::size_t bytes)
{
    const std::size_t whole = bytes + sizeof(BlockHeader);
    const std::size_t unit = whole >= kHugePage ? kHugePage : kGranule;
    return (whole + unit - 1) / unit * unit;
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

// The best block in `blocks` for `mapped` bytes: at least that long and not
// much longer (a block far too big would hold pages the new owner never uses).
std::vector<BlockHeader*>::iterator BestFit(std::vector<BlockHeader*>& blocks, std::size_t mapped)
{
    auto best = blocks.end();
    for (auto it = blocks.begin(); it != blocks.end(); ++it) {
        const std::size_t size = (*it)->mapped;
        if (size >= mapped && size - mapped <= mapped / 4 && (best == blocks.end() || size < (*best)->mapped))
            best = it;
    }
    return best;
}

class Pool {
public:
    // The slab stays mapped to the end: blocks carved from it may still be
    // owned by objects destroyed after the pool.
    ~Pool() { trim(); }

    // A kept block that fits, or null.
    BlockHeader* takeCached(std::size_t mapped)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (auto it = BestFit(slabFree_, mapped); it != slabFree_.end()) {
            BlockHeader* header = *it;
            slabFree_.erase(it);
            slabResidentBytes_ -= std::min(slabResidentBytes_, header->mapped);
            ++slabInUse_;
            return header;
        }
        auto best = BestFit(cached_, mapped);
        if (best == cached_.end())
            return nullptr;
        BlockHeader* header = *best;
        cached_.erase(best);
        cachedBytes_ -= header->mapped;
        return header;
    }

    // A new block from the slab for a block smaller than a huge page, or null.
    BlockHeader* carve(std::size_t mapped)
    {
#if defined(__unix__)
        if (mapped >= kHugePage)
            return nullptr;
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!slabTried_) {
            slabTried_ = true;
            slab_ = static_cast<std::uint8_t*>(MapBlock(kSlabBytes));
        }
        if (slab_ == nullptr || kSlabBytes - slabUsed_ < mapped)
            return nullptr;
        auto* header = new (slab_ + slabUsed_) BlockHeader{mapped, true};
        slabUsed_ += mapped;
        ++slabInUse_;
        return header;
#else
        (void)mapped;
        return nullptr;
#endif
    }

    void keep(BlockHeader* header) noexcept
    {
        if (header->inSlab) {
            // Slab blocks stay for the next request of their size; their
            // pages go back to the system only on trim.
            const std::lock_guard<std::mutex> lock(mutex_);
            --slabInUse_;
            try {
                slabFree_.push_back(header);
                slabResidentBytes_ += header->mapped;
            } catch (const std::bad_alloc&) {
                // Lost to reuse: its pages stay in the slab until the process ends.
            }
            return;
        }
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
#if defined(__unix__)
            if (slab_ != nullptr && slabInUse_ == 0) {
                // Nothing lives in the slab: it goes whole, and the next
                // small block starts a fresh one.
                munmap(slab_, kSlabBytes);
                slab_ = nullptr;
                slabTried_ = false;
                slabUsed_ = 0;
                slabFree_.clear();
            } else {
                // The free slab blocks keep their place; their pages are
                // dropped (the header's page comes back zeroed, so it is
                // written again).
                for (BlockHeader* block : slabFree_) {
                    const BlockHeader saved = *block;
                    madvise(block, saved.mapped, MADV_DONTNEED);
                    *block = saved;
                }
            }
            slabResidentBytes_ = 0;
#endif
        }
        for (BlockHeader* block : dropped)
            UnmapBlock(block, block->mapped);
    }

    std::size_t cachedBytes() const noexcept
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return cachedBytes_ + slabResidentBytes_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<BlockHeader*> cached_;
    std::size_t cachedBytes_ = 0;
    std::uint8_t* slab_ = nullptr;
    std::size_t slabUsed_ = 0;
    bool slabTried_ = false;
    std::vector<BlockHeader*> slabFree_;
    std::size_t slabInUse_ = 0;          // slab blocks handed out and not given back
    std::size_t slabResidentBytes_ = 0;  // free slab blocks' bytes not yet trimmed
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
    if (header == nullptr)
        header = ThePool().carve(mapped);
    if (header == nullptr) {
        header = static_cast<BlockHeader*>(MapBlock(mapped));
        if (header == nullptr) {
            ThePool().trim();  // what the pool keeps may be what the system misses
            header = static_cast<BlockHeader*>(MapBlock(mapped));
            if (header == nullptr)
                throw std::bad_alloc();
        }
        *header = BlockHeader{mapped, false};
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
