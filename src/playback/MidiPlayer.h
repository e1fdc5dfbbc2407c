#pragma once

#include <atomic>

#include "platform/TimerService.h"

namespace sonrigo {

class MidiF0Data;

// The plain sequencer: sends every record of the song to the MIDI output at
// its time, with no callbacks. Construction prepares playback from the
// song's start and starts the first timer.
class MidiPlayer {
public:
    MidiPlayer(MidiF0Data& song, int deviceId);
    // Closes the output device; the timer is not killed here.
    ~MidiPlayer();
    MidiPlayer(const MidiPlayer&) = delete;
    MidiPlayer& operator=(const MidiPlayer&) = delete;

    // The pending timer of the current MidiPlayer (one plays at a time).
    static TimerId timer();

private:
    static void onTimer(TimerId id, void* user);
    void fire();

    std::atomic<std::int64_t> firingUs_{0};
};

}  // namespace sonrigo
