#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/WaveOut.h"

namespace sonrigo {

// The device side of a wave output, shared by every backend: the queue of
// written buffers, the pause state, the count of frames played, and the
// done notifications. A backend only calls play() (or, from a real-time
// callback, playWithoutWaiting()) from its own thread (an audio callback, a
// clock) with as many frames as the hardware took.
class WavePlayQueue {
public:
    WavePlayQueue(const WaveFormat& format, WaveOutWindow* window);
    WavePlayQueue(const WavePlayQueue&) = delete;
    WavePlayQueue& operator=(const WavePlayQueue&) = delete;

    bool prepare(WaveHeader& header);
    bool unprepare(WaveHeader& header);
    // false also when kCapacity buffers are queued already.
    bool write(WaveHeader& header);
    void pause();
    void restart();
    // Also ends the circulation.
    void reset();
    // Buffers played to their end go back to the end of the queue (see
    // WaveOutStream::circulate).
    void circulate();
    // Stops notifying: after it returns, no play() notifies the window.
    void detach();

    // Plays up to `frames` frames of the queued buffers, in queue order, into
    // `out` (16-bit samples, interleaved as the format's frames; null to
    // discard them). Fewer when paused or when the queue runs dry: the rest of
    // `out` is left as it was. Each buffer played to its end is marked done
    // and sent to the window, or, circulating, queued again. Returns the
    // frames played, which the position counts.
    std::size_t play(std::int16_t* out, std::size_t frames);
    // The same for a real-time callback: it never waits for the owner's
    // thread, and plays nothing (returns 0) while that thread is queueing or
    // resetting.
    std::size_t playWithoutWaiting(std::int16_t* out, std::size_t frames);

    // Frames queued and not yet played.
    std::size_t queuedFrames() const;
    bool paused() const { return paused_.load(std::memory_order_acquire); }
    std::uint32_t position() const { return position_.load(std::memory_order_acquire); }

private:
    std::size_t play(std::int16_t* out, std::size_t frames, bool wait);
    void notify(WaveHeader* header);

    const std::size_t blockAlign_;
    mutable std::mutex mutex_;  // the queue, the read offset and the circulation
    // A fixed ring, so that play() never allocates or frees.
    static constexpr std::size_t kCapacity = 64;
    std::array<WaveHeader*, kCapacity> queue_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::size_t readBytes_ = 0;  // into queue_.front()
    bool circulating_ = false;
    std::atomic<WaveOutWindow*> window_;
    // Notifications being delivered, so that detach() can wait for them
    // without the device's thread ever taking a lock to notify.
    std::atomic<int> notifying_{0};
    std::atomic<bool> paused_{false};
    std::atomic<std::uint32_t> position_{0};
};

}  // namespace sonrigo
