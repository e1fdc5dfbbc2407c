#pragma once

#include <cstdint>
#include <memory>

#include "playback/PlaybackCallbacks.h"

namespace sonrigo {

class ChannelRouter;
class ChannelState;
class MidiEvent;
class PlaybackMailbox;
class ProgramRack;

// The window's per-event callback: where each event of the song goes, by
// its channel's row. On a channel routed to its instrument, notes go to the
// instrument (note-ons only with the channel switch on), controllers to the
// instrument and the MIDI output, program changes to the instrument unless
// "Fix" keeps them for the MIDI output. On a channel routed to the MIDI
// output, note-ons of a switched-off channel and program changes under
// "Fix" go nowhere. A program change that is played shows in its row.
//
// Runs on the sequencer's timer thread: for notes and controllers it reads
// the channel's flags and makes one queueMidi call; the row is told through
// the mailbox, never directly.
class SongEventRouter {
public:
    SongEventRouter(std::shared_ptr<const ChannelState> state, ChannelRouter& instruments, ProgramRack& programs,
                    std::shared_ptr<PlaybackMailbox> mailbox);

    void onSongEvent(std::int32_t index, std::int32_t time, MidiEvent* event);

private:
    std::shared_ptr<const ChannelState> state_;
    ChannelRouter& instruments_;
    ProgramRack& programs_;
    std::shared_ptr<PlaybackMailbox> mailbox_;
};

}  // namespace sonrigo
