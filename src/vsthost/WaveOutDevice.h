#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/WaveOut.h"
#include "vsthost/WaveBufferPool.h"

namespace sonrigo {

// Plays 16-bit PCM from a fixed ring of buffers that circulate for as long
// as the device is open: a buffer the device has played comes back through
// the window and is queued again unchanged; the samples are written into the
// ring by position (writeRing), ahead of the play position.
//
// Threads: everything but writeRing and position runs on the owner's thread;
// writeRing on the render thread; position on the render thread and in the
// sequencer's timer callback.
class WaveOutDevice {
public:
    // Plays through the installed wave output service.
    WaveOutDevice(std::int32_t deviceId, const WaveFormat* format, std::int32_t bufferBytes, std::int32_t bufferCount);
    WaveOutDevice(std::shared_ptr<WaveOutService> service, std::int32_t deviceId, const WaveFormat* format,
                  std::int32_t bufferBytes, std::int32_t bufferCount);
    // Does not close the device: the owner stops the audio first.
    virtual ~WaveOutDevice();
    WaveOutDevice(const WaveOutDevice&) = delete;
    WaveOutDevice& operator=(const WaveOutDevice&) = delete;

    bool query();
    bool open(WaveOutWindow* window);
    bool close();
    bool startQueue();
    bool requeue(WaveHeader* header);
    void restart();
    void reset();
    void writeRing(std::uint32_t bufferIndex, std::uint32_t frameOffset, const std::int16_t* samples,
                   std::uint32_t frames);
    std::uint32_t position() const;

    bool isOpen() const { return live_.load(std::memory_order_acquire) != nullptr; }
    const WaveBufferPool& pool() const { return pool_; }

private:
    std::shared_ptr<WaveOutService> service_;
    std::unique_ptr<WaveOutStream> handle_;
    // handle_ for position(), read on other threads. The owner makes sure that
    // no position() runs while the device is opened or closed.
    std::atomic<WaveOutStream*> live_{nullptr};
    std::int32_t deviceId_;
    const WaveFormat* format_;
    WaveBufferPool pool_;
};

}  // namespace sonrigo
