#include "common/ZeroedBlock.h"

#include <cstdlib>
#include <utility>

#include "common/ErrorTexts.h"

namespace sonrigo {

void* AllocZeroed(std::size_t bytes)
{
    // calloc(0) may return null; a zero-byte request still gets a distinct block.
    void* block = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (block == nullptr)
        ReportGeneralError(GeneralError::NeedsMoreMemory);
    return block;
}

void FreeBlock(void* block)
{
    std::free(block);
}

ZeroedBlock::ZeroedBlock(std::size_t bytes)
    : data_(static_cast<std::uint8_t*>(AllocZeroed(bytes)))
    , size_(data_ != nullptr ? bytes : 0)
{
}

ZeroedBlock::~ZeroedBlock()
{
    FreeBlock(data_);
}

ZeroedBlock::ZeroedBlock(ZeroedBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr))
    , size_(std::exchange(other.size_, 0))
{
}

ZeroedBlock& ZeroedBlock::operator=(ZeroedBlock&& other) noexcept
{
    if (this != &other) {
        FreeBlock(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

}  // namespace sonrigo
