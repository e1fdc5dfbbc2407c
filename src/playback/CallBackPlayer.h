#pragma once

#include <atomic>
#include <cstdint>

#include "playback/PlaybackCallbacks.h"
#include "platform/TimerService.h"

namespace sonrigo {

class MidiF0Data;

// The sequencer the program plays with: every record goes to the per-event
// callback first, then, unless the callback removed it, to the MIDI output.
// It keeps the tick position and can stop at an end tick. Construction
// prepares playback and starts the first timer; the timer callbacks then
// reschedule themselves until the song ends or a stop is requested.
class CallBackPlayer {
public:
    CallBackPlayer(MidiF0Data& song, int deviceId, EndCallback onEnd, PerEventCallback onEvent, std::int32_t tickBase,
                   std::int32_t startTick, std::int32_t endTick);
    // Keeps the end callback an earlier player stored.
    CallBackPlayer(MidiF0Data& song, int deviceId, PerEventCallback onEvent, std::int32_t tickBase,
                   std::int32_t startTick, std::int32_t endTick);
    // Closes the output device; the timer is not killed here.
    ~CallBackPlayer();
    CallBackPlayer(const CallBackPlayer&) = delete;
    CallBackPlayer& operator=(const CallBackPlayer&) = delete;

    TimerId timer() const { return timer_.load(); }
    // Tick base plus the absolute tick of the last record dispatched.
    static std::int32_t tickPosition();

private:
    void start(MidiF0Data& song, int deviceId, std::int32_t tickBase, std::int32_t startTick);
    static void onTimer(TimerId id, void* user);
    void fire();
    // Hands the current record to the callback and sends it; the next delta.
    std::int32_t dispatch();

    std::atomic<TimerId> timer_{0};
    std::atomic<std::int64_t> firingUs_{0};  // deadline of the pending firing
};

}  // namespace sonrigo
