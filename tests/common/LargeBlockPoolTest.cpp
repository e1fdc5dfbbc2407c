#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "common/LargeBlockPool.h"

namespace sonrigo {
namespace {

constexpr std::size_t kMiB = std::size_t{1024} * 1024;

// A freed block serves the next request of about its size; one far smaller is
// not given a block that would hold many unused pages; trim gives all back.
TEST(LargeBlockPool, ReusesFreedBlocksOfAboutTheRightSize)
{
    LargeBlockPool::trim();
    void* first = LargeBlockPool::allocate(3 * kMiB);
    std::memset(first, 0x5A, 3 * kMiB);
    LargeBlockPool::release(first);

    void* small = LargeBlockPool::allocate(kMiB);
    EXPECT_NE(small, first);
    void* again = LargeBlockPool::allocate(3 * kMiB - 4096);
    EXPECT_EQ(again, first);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(again) % 64, 0u);
    // Blocks under a huge page come from one shared region and are reused
    // the same way.
    void* track = LargeBlockPool::allocate(512 * 1024);
    std::memset(track, 0x33, 512 * 1024);
    LargeBlockPool::release(track);
    EXPECT_EQ(LargeBlockPool::allocate(500 * 1024), track);
    LargeBlockPool::release(track);
    LargeBlockPool::release(small);
    LargeBlockPool::release(again);
    LargeBlockPool::trim();
    EXPECT_EQ(LargeBlockPool::cachedBytes(), 0u);
    void* fresh = LargeBlockPool::allocate(512 * 1024);
    std::memset(fresh, 0x44, 512 * 1024);
    LargeBlockPool::release(fresh);
    LargeBlockPool::trim();
}

}  // namespace
}  // namespace sonrigo
