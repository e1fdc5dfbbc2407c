#include "app/SongEventRouter.h"

#include "app/ChannelState.h"
#include "app/PlaybackMailbox.h"
#include "app/ProgramRack.h"
#include "song/MidiEvent.h"
#include "vsthost/ChannelRouter.h"

namespace sonrigo {

SongEventRouter::SongEventRouter(std::shared_ptr<const ChannelState> state, ChannelRouter& instruments,
                                 ProgramRack& programs, std::shared_ptr<PlaybackMailbox> mailbox)
    : state_(std::move(state)), instruments_(instruments), programs_(programs), mailbox_(std::move(mailbox))
{
}

void SongEventRouter::onSongEvent(std::int32_t /*index*/, std::int32_t /*time*/, MidiEvent* event)
{
    if (event == nullptr || event->channel < 0 || event->channel >= ChannelState::kChannels)
        return;
    const std::int32_t channel = event->channel;
    const ChannelState& state = *state_;
    if (state.channelRoute(channel) == RouteInstrument) {
        switch (event->kind) {
        case EventKind::NoteOn:
            if (state.channelNotesOn(channel))
                instruments_.toInstrument(*event);
            event->kind = EventKind::Removed;
            break;
        case EventKind::NoteOff:
            instruments_.toInstrument(*event);
            event->kind = EventKind::Removed;
            break;
        case EventKind::ControlChange:
            instruments_.toInstrument(*event);  // and on to the MIDI output
            break;
        case EventKind::ProgramChange:
            if (state.channelProgramFixed(channel))
                return;  // the instrument keeps its program; the MIDI output takes it
            programs_.setProgram(channel, event->value);
            mailbox_->postProgram(channel, programs_.getProgram(channel) + 1);
            event->kind = EventKind::Removed;
            break;
        default:
            break;
        }
        return;
    }
    switch (event->kind) {
    case EventKind::NoteOn:
        if (!state.channelNotesOn(channel))
            event->kind = EventKind::Removed;
        break;
    case EventKind::ProgramChange:
        if (state.channelProgramFixed(channel))
            event->kind = EventKind::Removed;
        else
            mailbox_->postProgram(channel, (event->value & 0x7F) + 1);
        break;
    default:
        break;
    }
}

}  // namespace sonrigo
