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

private:
    struct Period {
        std::uint64_t resets = 0;
        std::uint32_t from = 0;
        std::uint32_t frames = 0;
        std::int64_t atUs = 0;
    };
    // One record of a period, with its own sequence: odd while written.
    struct Slot {
        std::atomic<std::uint64_t> sequence{0};
        std::atomic<std::uint64_t> resets{0};
        std::atomic<std::uint32_t> from{0};
        std::atomic<std::uint32_t> frames{0};
        std::atomic<std::int64_t> atUs{0};
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
    const std::int64_t originUs_;

    // The last period, written by the device's thread alone into the slot not
    // being read and then published. A device thread that dies halfway (libjack
    // cancels its thread when the server goes away) leaves the published slot
    // whole, so that no reader ever waits for it. Every access is sequentially
    // consistent, which makes the sequences sound without fences.
    Slot slots_[2];
    std::atomic<int> published_{0};

    std::atomic<std::uint64_t> resets_{0};
    std::atomic<std::int64_t> resetAtUs_;  // also the opening

    // Once lost, in one word so that marking it never leaves it half done:
    // kLost and, in the low 32 bits, what to add to the frames since the
    // origin to get the position.
    static constexpr std::uint64_t kLost = std::uint64_t{1} << 32;
    mutable std::atomic<std::uint64_t> loss_{0};
};

}  // namespace sonrigo
