#pragma once

#include <atomic>
#include <cstdint>

namespace sonrigo {

// The play position of a stream whose device takes its frames a period at a
// time on a thread of its own, and whether that device is still there. The
// device's thread records each period; any thread reads the position without
// a lock, so that a reader never waits for the device's thread nor the device
// for a reader. Every time is passed in (microseconds of a steady clock), so
// that the rules can be followed without a device.
//
// Between two periods the position moves with the time since the last one
// but never past the frames it took; it never goes back.
//
// The device counts as lost once its periods stay away for longer than
// lostAfterUs, once they take frames faster than real time by more than that
// (a device that fails every write at once), or when it reports a failure.
// It stays lost: later periods are ignored, and the position goes on in real
// time from where it stood, as a device playing into nothing does.
class WaveStreamClock {
public:
    WaveStreamClock(std::uint32_t rate, std::int64_t lostAfterUs, std::int64_t nowUs);
    WaveStreamClock(const WaveStreamClock&) = delete;
    WaveStreamClock& operator=(const WaveStreamClock&) = delete;

    // Device's thread, as a period begins: to be handed to played().
    std::uint64_t resets() const { return resets_.load(); }
    // Device's thread, as that period ends: it took `frames` frames from the
    // position `from`, the queue's position as it began.
    void played(std::uint64_t resets, std::uint32_t from, std::uint32_t frames, std::int64_t nowUs);
    // Device's thread: the device reported a failure.
    void fail(std::int64_t nowUs);
    // Owner's thread: the position starts again from 0 (the device's queue
    // was emptied). A period under way is not counted.
    void reset(std::int64_t nowUs);

    // Any thread.
    std::uint32_t position(std::int64_t nowUs) const;
    bool lost(std::int64_t nowUs) const;
    // How long since the last period ended (or the clock was reset).
    std::int64_t quietUs(std::int64_t nowUs) const;

private:
    struct Period {
        std::uint64_t resets = 0;
        std::uint32_t from = 0;
        std::uint32_t frames = 0;
        std::int64_t atUs = 0;
    };
    struct State {
        bool lost = false;
        std::uint32_t position = 0;
    };

    State settle(std::int64_t nowUs) const;
    // Marks the device lost, standing at `from` at `atUs`; the first caller wins.
    void markLost(std::uint32_t from, std::int64_t atUs) const;
    std::uint32_t framesIn(std::int64_t us) const;
    Period lastPeriod() const;

    const std::int64_t rate_;
    const std::int64_t lostAfterUs_;

    // The last period, as a sequence lock with one writer (the device's
    // thread): odd while it is being written. Every access is sequentially
    // consistent, which makes the lock sound without fences.
    std::atomic<std::uint64_t> sequence_{0};
    std::atomic<std::uint64_t> periodResets_{0};
    std::atomic<std::uint32_t> periodFrom_{0};
    std::atomic<std::uint32_t> periodFrames_{0};
    std::atomic<std::int64_t> periodAtUs_;

    std::atomic<std::uint64_t> resets_{0};
    std::atomic<std::int64_t> resetAtUs_;  // also the opening

    // 0 playing, 1 being marked lost, 2 lost (lostFrom_ and lostAtUs_ set).
    mutable std::atomic<int> lossState_{0};
    mutable std::atomic<std::uint32_t> lostFrom_{0};
    mutable std::atomic<std::int64_t> lostAtUs_{0};
};

}  // namespace sonrigo
