#pragma once

#include <atomic>
#include <memory>

#include "platform/TimerService.h"

namespace sonrigo {

class MidiControler;
class MidiF0Data;

// The plain sequencer: sends every record of the song to the MIDI output at
// its time, with no callbacks. Construction prepares playback from the
// song's start and starts the first timer on the timer service then
// installed, which it keeps.
class MidiPlayer {
public:
    MidiPlayer(MidiF0Data& song, int deviceId);
    // Closes its output device; the timer is not killed here.
    ~MidiPlayer();
    MidiPlayer(const MidiPlayer&) = delete;
    MidiPlayer& operator=(const MidiPlayer&) = delete;

    TimerId timer() const { return timer_.load(); }
    const std::shared_ptr<TimerService>& timerService() const { return timers_; }
    bool opened() const { return device_ != nullptr; }
    // As CallBackPlayer::retire: a firing still running or to come does
    // nothing more.
    void retire() { retired_.store(true); }

private:
    static void onTimer(TimerId id, void* user);
    void fire();

    const std::shared_ptr<TimerService> timers_;
    MidiControler* device_ = nullptr;  // its own, opened by preparation
    std::atomic<bool> retired_{false};
    std::atomic<TimerId> timer_{0};
    std::atomic<std::int64_t> firingUs_{0};
};

}  // namespace sonrigo
