#pragma once

#include <cstddef>

namespace sonrigo {

// Memory for the big arrays a load makes and drops again and again: the record
// lists of tracks and songs, tens of megabytes each for a song at the size
// limit. Taking such a block from malloc maps fresh pages every time, and on
// a virtual machine every first touch of a page is a fault that costs
// microseconds, several times what the conversions cost. This pool maps its
// blocks with their pages already present and keeps freed ones for the next
// request of about the same size, so a player that loads song after song
// reuses the same memory.
//
// Thread-safe. Blocks below kThreshold are left to operator new: the pool is
// for the few big arrays, not for records.
class LargeBlockPool {
public:
    static constexpr std::size_t kThreshold = std::size_t{256} * 1024;

    // A block of at least `bytes`, aligned to 64 bytes; throws std::bad_alloc
    // when the system has no memory left.
    static void* allocate(std::size_t bytes);
    // Gives back a block from allocate; null is ignored.
    static void release(void* block) noexcept;
    // Returns every kept block to the system.
    static void trim() noexcept;
    // Bytes of the blocks kept for reuse.
    static std::size_t cachedBytes() noexcept;
};

}  // namespace sonrigo
