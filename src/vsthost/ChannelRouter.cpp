#include "vsthost/ChannelRouter.h"

#include "song/MidiEvent.h"
#include "vsthost/VstRack.h"

namespace sonrigo {

ChannelRouter::ChannelRouter(VstRack& rack) : rack_(rack) {}

void ChannelRouter::setRouted(std::int32_t channel, bool toRack)
{
    if (channel >= 0 && channel < 16)
        toRack_[static_cast<std::size_t>(channel)].store(toRack, std::memory_order_release);
}

bool ChannelRouter::routed(std::int32_t channel) const
{
    return channel >= 0 && channel < 16 && toRack_[static_cast<std::size_t>(channel)].load(std::memory_order_acquire);
}

void ChannelRouter::onEvent(std::int32_t /*index*/, std::int32_t /*tick*/, MidiEvent* record)
{
    if (record == nullptr || !routed(record->channel))
        return;
    const auto channel = static_cast<std::uint8_t>(record->channel);
    const auto byte = [](std::int32_t value) { return static_cast<std::uint8_t>(value & 0x7F); };
    switch (record->kind) {
    case EventKind::NoteOn:
        rack_.queueMidi(0x90 | channel, byte(record->data1), byte(record->velocity));
        break;
    case EventKind::NoteOff:
        rack_.queueMidi(0x80 | channel, byte(record->data1), 0);
        break;
    case EventKind::ControlChange:
        rack_.queueMidi(0xB0 | channel, byte(record->subtype), byte(record->value));
        break;
    case EventKind::ProgramChange:
        rack_.setProgram(record->channel, record->value);
        break;
    default:
        return;
    }
    record->kind = EventKind::Removed;
}

PerEventCallback ChannelRouter::callback()
{
    return [this](std::int32_t index, std::int32_t tick, MidiEvent* record) { onEvent(index, tick, record); };
}

}  // namespace sonrigo
