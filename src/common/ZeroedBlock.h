#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sonrigo {

// A fixed, zero-filled block. On failure shows "Needs more memory!" and
// returns null; callers must treat a null block as an empty one.
void* AllocZeroed(std::size_t bytes);
void FreeBlock(void* block);

// Owns one AllocZeroed block. Move-only. An empty block (default-constructed,
// moved from, or after a failed allocation) has size 0 and a null data().
class ZeroedBlock {
public:
    ZeroedBlock() = default;
    explicit ZeroedBlock(std::size_t bytes);
    ~ZeroedBlock();

    ZeroedBlock(ZeroedBlock&& other) noexcept;
    ZeroedBlock& operator=(ZeroedBlock&& other) noexcept;
    ZeroedBlock(const ZeroedBlock&) = delete;
    ZeroedBlock& operator=(const ZeroedBlock&) = delete;

    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::span<std::uint8_t> span() { return {data_, size_}; }
    std::span<const std::uint8_t> span() const { return {data_, size_}; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace sonrigo
