#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "playback/PlaybackCallbacks.h"

namespace sonrigo {

class MidiEvent;
class VstRack;

// Sends the channels that have an instrument to the rack instead of the MIDI
// output: on such a channel a note-on or note-off becomes a queueMidi call and
// a program change a setProgram, and the record is marked Removed so that the
// sequencer does not send it on; a control change goes to both. Everything
// else (other channels, pitch bend and pressure, exclusive messages) goes to
// the MIDI output as before.
//
// It remembers which notes it has started on each instrument, so that they
// can be let go when playback ends or a channel leaves its instrument: the
// MIDI output gets its reset from the sequencer, the instruments get theirs
// here. The notes are tracked in fixed bit sets; nothing allocates.
class ChannelRouter {
public:
    explicit ChannelRouter(VstRack& rack);

    // On the owner's thread, before or during playback. Routing a channel
    // away from its instrument lets go of the notes it still holds there.
    void setRouted(std::int32_t channel, bool toRack);
    bool routed(std::int32_t channel) const;

    // The per-event callback, on the sequencer's timer thread.
    void onEvent(std::int32_t index, std::int32_t tick, MidiEvent* record);
    // The instrument's part of a note-on, note-off or control change of the
    // record's channel, remembered for the release; the record itself is
    // left as it is. For a player that decides the routing itself (timer
    // thread); nothing is sent while the channel is not routed here.
    void toInstrument(const MidiEvent& record);
    PerEventCallback callback();

    // On every channel that reached an instrument since the last release:
    // a note-off for each note still sounding there, then sustain off
    // (controller 64 = 0) and all notes off (controller 123). For the end of
    // playback, once the sequencer has stopped (not from the timer thread
    // while it still dispatches: a note-on after the release would hang).
    void releaseNotes();
    // releaseNotes, as the playback worker calls it once a player is gone.
    EndCallback releaseCallback();

private:
    void releaseChannel(std::size_t channel);

    VstRack& rack_;
    std::array<std::atomic<bool>, 16> toRack_{};
    // Per channel: the notes started on its instrument and not yet stopped,
    // and whether anything went to the instrument since the last release.
    std::array<std::array<std::atomic<std::uint64_t>, 2>, 16> sounding_{};
    std::array<std::atomic<bool>, 16> touched_{};
};

}  // namespace sonrigo
