#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "playback/PlaybackCallbacks.h"

namespace sonrigo {

class MidiEvent;
class VstRack;

// Sends the channels that have an instrument to the rack instead of the MIDI
// output: on such a channel a note-on, note-off or control change becomes a
// queueMidi call and a program change a setProgram, and the record is marked
// Removed so that the sequencer does not send it on. Everything else (other
// channels, pitch bend and pressure, exclusive messages) goes to the MIDI
// output as before.
class ChannelRouter {
public:
    explicit ChannelRouter(VstRack& rack);

    // Before playback, on the owner's thread.
    void setRouted(std::int32_t channel, bool toRack);
    bool routed(std::int32_t channel) const;

    // The per-event callback, on the sequencer's timer thread.
    void onEvent(std::int32_t index, std::int32_t tick, MidiEvent* record);
    PerEventCallback callback();

private:
    VstRack& rack_;
    std::array<std::atomic<bool>, 16> toRack_{};
};

}  // namespace sonrigo
