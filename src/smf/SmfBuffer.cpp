#include "smf/SmfBuffer.h"

#include <algorithm>

namespace sonrigo {

SmfBuffer::SmfBuffer() : block_(kCapacity) {}

void SmfBuffer::setSize(std::int64_t size)
{
    size_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(size, 0, capacity()));
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
