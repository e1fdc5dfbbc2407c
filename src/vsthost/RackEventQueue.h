#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "vsthost/RackWindow.h"

namespace sonrigo {

class VstRack;

// The rack's window for an owner without a GUI (the command-line tool, the
// tests, the offline renderer): the notifications wait in a fixed queue until
// the owner's thread dispatches them to the rack. Posting never allocates.
class RackEventQueue final : public RackWindow {
public:
    void waveBufferDone(WaveHeader* header) override;
    void rackLevel(const std::atomic<double>* level) override;
    void rackMessage(const char* text) override;

    // On the owner's thread: shows the messages posted (ShowMessage, in the
    // order posted), hands every waiting buffer to rack.onBufferDone, in the
    // order the device returned them, and takes the last level posted.
    // Returns the number of buffers handed over.
    std::size_t dispatch(VstRack& rack);
    // Blocks until a notification is posted or the time has passed (real
    // clocks only: on a virtual clock, sleep on the clock instead).
    void waitFor(std::chrono::milliseconds limit);

    // The level read at the last dispatch, in dB; -1.7e308 for silence, and
    // before any pass.
    double level() const { return level_; }
    // Level notifications taken by dispatches so far.
    std::size_t levelCount() const { return levelCount_; }
    // Buffers dropped because the queue was full (the owner was not dispatching).
    std::size_t dropped() const { return dropped_.load(); }

private:
    static constexpr std::size_t kCapacity = 64;
    // A device says each thing once a stream: a few are plenty.
    static constexpr std::size_t kMessageCapacity = 4;
    // Longer texts are cut (a message names a plug-in's file at most).
    static constexpr std::size_t kMessageBytes = 512;

    std::mutex mutex_;
    std::condition_variable posted_;
    std::array<WaveHeader*, kCapacity> headers_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::array<std::array<char, kMessageBytes>, kMessageCapacity> messages_{};
    std::size_t messageCount_ = 0;
    const std::atomic<double>* pendingLevel_ = nullptr;
    std::size_t pendingLevels_ = 0;
    std::atomic<std::size_t> dropped_{0};
    // Owner's thread only.
    double level_ = -1.7e308;
    std::size_t levelCount_ = 0;
};

}  // namespace sonrigo
