#pragma once

#include <cstddef>
#include <new>

#include "common/LargeBlockPool.h"

namespace sonrigo {

// A standard allocator that takes arrays of LargeBlockPool::kThreshold bytes
// or more from the LargeBlockPool and smaller ones from operator new.
// Stateless: every instance can free what any other allocated.
template <typename T>
class PooledAllocator {
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "over-aligned types need their own allocator");

public:
    using value_type = T;

    PooledAllocator() noexcept = default;
    template <typename U>
    PooledAllocator(const PooledAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes >= LargeBlockPool::kThreshold)
            return static_cast<T*>(LargeBlockPool::allocate(bytes));
        return static_cast<T*>(::operator new(bytes));
    }

    void deallocate(T* p, std::size_t n) noexcept
    {
        if (n * sizeof(T) >= LargeBlockPool::kThreshold)
            LargeBlockPool::release(p);
        else
            ::operator delete(p);
    }

    template <typename U>
    bool operator==(const PooledAllocator<U>&) const noexcept
    {
        return true;
    }
};

}  // namespace sonrigo
