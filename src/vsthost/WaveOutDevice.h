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
// Once circulate() has been called, the device queues each played buffer
// again itself, and the owner's requeue finds nothing to do.
//
// Threads: everything but writeRing, position and takeLossReport runs on the
// owner's thread; writeRing and takeLossReport on the render thread; position
// on the render thread and in the sequencer's timer callback.
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

    // On the stand-in for a missing sound device, also tells the user, once
    // a process, that no device could be opened (and answers true: the audio
    // goes on into nothing). Said here rather than in open(), which its owner
    // may call under a lock of its own.
    bool query();
    bool open(WaveOutWindow* window);
    bool close();
    bool startQueue();
    // After startQueue: from then on the device itself queues each buffer it
    // has played, so that the ring never waits for the owner's thread.
    void circulate();
    // Warns, once a process, when the opened device takes more frames at a
    // time than a writer that stays leadFrames ahead of the position and
    // writes every periodMs has written by then.
    void checkLead(std::uint32_t leadFrames, std::int32_t periodMs);
    bool requeue(WaveHeader* header);
    void restart();
    void reset();
    void writeRing(std::uint32_t bufferIndex, std::uint32_t frameOffset, const std::int16_t* samples,
                   std::uint32_t frames);
    std::uint32_t position() const;
    // The text that tells the user the device went away while open, the
    // first time it is asked for after that happened; null otherwise. For a
    // thread that hands the text on (the render thread must not show it).
    const char* takeLossReport();

    // Lets the once-a-process messages show again (tests).
    static void RearmReports();

    // Until the next open, position() answers 0 and isOpen() false: other
    // threads stop using the stream, and reset and close then need no lock
    // against them. close() does this too.
    void withdraw() { live_.store(nullptr, std::memory_order_release); }
    bool isOpen() const { return live_.load(std::memory_order_acquire) != nullptr; }
    const WaveBufferPool& pool() const { return pool_; }

private:
    std::shared_ptr<WaveOutService> service_;
    std::unique_ptr<WaveOutStream> handle_;
    // handle_ for position(), read on other threads. The owner makes sure that
    // no position() runs while the device is opened or closed.
    std::atomic<WaveOutStream*> live_{nullptr};
    std::atomic<bool> lossReported_{false};  // for the stream opened last
    std::int32_t deviceId_;
    const WaveFormat* format_;
    WaveBufferPool pool_;
};

}  // namespace sonrigo
