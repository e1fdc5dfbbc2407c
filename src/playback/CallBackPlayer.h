#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "playback/PlaybackCallbacks.h"
#include "platform/TimerService.h"

namespace sonrigo {

class MidiControler;
class MidiF0Data;

// The sequencer the program plays with: every record goes to the per-event
// callback first, then, unless the callback removed it, to the MIDI output.
// It keeps the tick position and can stop at an end tick. Construction
// prepares playback and starts the first timer on the timer service then
// installed, which it keeps; the timer callbacks then reschedule themselves
// until the song ends or a stop is requested.
class CallBackPlayer {
public:
    CallBackPlayer(MidiF0Data& song, int deviceId, EndCallback onEnd, PerEventCallback onEvent, std::int32_t tickBase,
                   std::int32_t startTick, std::int32_t endTick);
    // Keeps the end callback an earlier player stored.
    CallBackPlayer(MidiF0Data& song, int deviceId, PerEventCallback onEvent, std::int32_t tickBase,
                   std::int32_t startTick, std::int32_t endTick);
    // Closes its output device; the timer is not killed here.
    ~CallBackPlayer();
    CallBackPlayer(const CallBackPlayer&) = delete;
    CallBackPlayer& operator=(const CallBackPlayer&) = delete;

    TimerId timer() const { return timer_.load(); }
    // The service its timers run on.
    const std::shared_ptr<TimerService>& timerService() const { return timers_; }
    // Whether preparation opened the output device.
    bool opened() const { return device_ != nullptr; }
    // Before its timer is killed for good: a firing still running (in a slow
    // plug-in) or still to come touches neither the sequencer state, the
    // output device nor the song any more, and schedules nothing.
    void retire() { retired_.store(true); }
    // Tick base plus the absolute tick of the last record dispatched.
    static std::int32_t tickPosition();

private:
    void start(MidiF0Data& song, int deviceId, std::int32_t tickBase, std::int32_t startTick);
    static void onTimer(TimerId id, void* user);
    void fire();
    // Hands the current record to the callback and sends it; the next delta,
    // or nothing when the player was retired meanwhile.
    std::optional<std::int32_t> dispatch(const PerEventCallback* onEvent);

    const std::shared_ptr<TimerService> timers_;
    MidiControler* device_ = nullptr;  // its own, opened by preparation
    std::atomic<bool> retired_{false};
    std::atomic<TimerId> timer_{0};
    std::atomic<std::int64_t> firingUs_{0};  // deadline of the pending firing
};

}  // namespace sonrigo
