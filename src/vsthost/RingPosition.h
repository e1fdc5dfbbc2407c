#pragma once

#include <cstdint>

#include "platform/WaveOut.h"

namespace sonrigo {

// A frame position in the ring of wave buffers: which buffer, which frame in
// it, and the frame count since the device was opened. The rack keeps two:
// where the next rendered frame goes, and where rendering should have got to.
class RingPosition {
public:
    RingPosition(std::int32_t bufferBytes, std::int32_t bufferCount, const WaveFormat* format);
    virtual ~RingPosition() = default;
    RingPosition(const RingPosition&) = delete;
    RingPosition& operator=(const RingPosition&) = delete;

    void set(std::uint32_t frame);
    void copyFrom(const RingPosition& other);
    // Frames from here forward to `other` around the ring; zero or negative
    // when `other` is not ahead within the same buffer.
    std::int32_t distanceTo(const RingPosition& other) const;

    std::uint32_t framesPerBuffer() const;
    std::uint32_t bufferIndex() const { return bufferIndex_; }
    std::uint32_t frameOffset() const { return frameOffset_; }
    std::uint32_t absolute() const { return absolute_; }

private:
    std::int32_t bufferBytes_;
    std::int32_t bufferCount_;
    const WaveFormat* format_;
    std::uint32_t bufferIndex_ = 0;
    std::uint32_t frameOffset_ = 0;
    std::uint32_t absolute_ = 0;
};

}  // namespace sonrigo
