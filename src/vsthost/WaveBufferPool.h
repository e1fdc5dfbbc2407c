#pragma once

#include <cstdint>
#include <memory>

#include "platform/WaveOut.h"

namespace sonrigo {

// The ring's buffers and their headers, allocated once, zeroed, and kept for
// as long as the device exists.
class WaveBufferPool {
public:
    WaveBufferPool(std::int32_t bufferBytes, std::int32_t bufferCount);
    virtual ~WaveBufferPool();
    WaveBufferPool(const WaveBufferPool&) = delete;
    WaveBufferPool& operator=(const WaveBufferPool&) = delete;

    // Zeroes every sample buffer (when the pool is usable).
    void clear();

    bool ok() const { return ok_; }
    std::int32_t bufferBytes() const { return bufferBytes_; }
    std::int32_t bufferCount() const { return bufferCount_; }
    WaveHeader* header(std::int32_t i) const { return headers_[static_cast<std::size_t>(i)]; }
    char* buffer(std::int32_t i) const { return buffers_[static_cast<std::size_t>(i)]; }

private:
    bool ok_ = false;
    std::unique_ptr<WaveHeader*[]> headers_;
    std::unique_ptr<char*[]> buffers_;
    std::int32_t bufferBytes_;
    std::int32_t bufferCount_;
};

}  // namespace sonrigo
