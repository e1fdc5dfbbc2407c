#include "smf/SmfBuffer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "platform/ReadOnlyFile.h"

namespace sonrigo {

namespace {

// The zeroed blocks that a thread's last buffers left: two, since a format-0
// read holds its buffer while the format-1 read it falls back on holds one.
std::array<ZeroedBlock, 2>& SpareBlocks()
{
    thread_local std::array<ZeroedBlock, 2> spares;
    return spares;
}

}  // namespace

SmfBuffer::SmfBuffer()
{
    for (ZeroedBlock& spare : SpareBlocks())
        if (spare.size() == static_cast<std::size_t>(kCapacity)) {
            block_ = std::move(spare);
            return;
        }
    block_ = ZeroedBlock(kCapacity);
}

SmfBuffer::~SmfBuffer()
{
    if (block_.size() == 0)
        return;
    for (ZeroedBlock& spare : SpareBlocks())
        if (spare.size() == 0) {
            // What may have been written is zeroed, so that the next buffer
            // starts as a fresh one does.
            std::memset(block_.data(), 0, static_cast<std::size_t>(written_));
            spare = std::move(block_);
            return;
        }
}

void SmfBuffer::setSize(std::int64_t size)
{
    size_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(size, 0, capacity()));
    written_ = std::max(written_, size_);
}

std::uint8_t* SmfBuffer::data()
{
    written_ = capacity();
    return block_.data();
}

std::span<std::uint8_t> SmfBuffer::block()
{
    written_ = capacity();
    return block_.span();
}

std::int64_t SmfBuffer::readFrom(ReadOnlyFile& file)
{
    const std::int64_t got = file.read(block_.span());
    // A failed read may have filled any part of the block.
    written_ = got < 0 ? capacity() : std::max(written_, static_cast<std::int32_t>(got));
    setSize(std::max<std::int64_t>(got, 0));
    return got;
}

std::uint8_t SmfBuffer::byteAt(std::int64_t offset) const
{
    if (offset < 0 || offset >= capacity())
        return 0;
    return block_.data()[offset];
}

bool SmfBuffer::holds(std::int64_t offset, std::int64_t count) const
{
    return offset >= 0 && count >= 0 && offset <= size_ && count <= size_ - offset;
}

}  // namespace sonrigo
