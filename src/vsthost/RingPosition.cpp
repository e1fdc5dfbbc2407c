#include "vsthost/RingPosition.h"

namespace sonrigo {

RingPosition::RingPosition(std::int32_t bufferBytes, std::int32_t bufferCount, const WaveFormat* format)
    : bufferBytes_(bufferBytes), bufferCount_(bufferCount), format_(format)
{
}

std::uint32_t RingPosition::framesPerBuffer() const
{
    const std::uint32_t blockAlign = format_ != nullptr && format_->blockAlign != 0 ? format_->blockAlign : 1;
    return static_cast<std::uint32_t>(bufferBytes_) / blockAlign;
}

void RingPosition::set(std::uint32_t frame)
{
    const std::uint32_t perBuffer = framesPerBuffer();
    absolute_ = frame;
    if (perBuffer == 0 || bufferCount_ <= 0) {
        bufferIndex_ = 0;
        frameOffset_ = 0;
        return;
    }
    bufferIndex_ = (frame / perBuffer) % static_cast<std::uint32_t>(bufferCount_);
    frameOffset_ = frame % perBuffer;
}

void RingPosition::copyFrom(const RingPosition& other)
{
    bufferIndex_ = other.bufferIndex_;
    frameOffset_ = other.frameOffset_;
    absolute_ = other.absolute_;
}

std::int32_t RingPosition::distanceTo(const RingPosition& other) const
{
    const auto perBuffer = static_cast<std::int32_t>(framesPerBuffer());
    const auto offset = static_cast<std::int32_t>(frameOffset_);
    const auto otherOffset = static_cast<std::int32_t>(other.frameOffset_);
    if (bufferIndex_ == other.bufferIndex_)
        return otherOffset - offset;
    std::int32_t d = otherOffset - offset + perBuffer;
    for (std::int32_t k = 1; k < bufferCount_; ++k) {
        if ((bufferIndex_ + static_cast<std::uint32_t>(k)) % static_cast<std::uint32_t>(bufferCount_) == other.bufferIndex_)
            return d;
        d += perBuffer;
    }
    return 0;
}

}  // namespace sonrigo
