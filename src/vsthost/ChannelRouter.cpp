#include "vsthost/ChannelRouter.h"

#include <bit>

#include "song/MidiEvent.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

constexpr std::uint8_t kSustainPedal = 64;
constexpr std::uint8_t kAllNotesOff = 123;

}  // namespace

ChannelRouter::ChannelRouter(VstRack& rack) : rack_(rack) {}

void ChannelRouter::setRouted(std::int32_t channel, bool toRack)
{
    if (channel < 0 || channel >= 16)
        return;
    const auto index = static_cast<std::size_t>(channel);
    toRack_[index].store(toRack);
    if (!toRack)
        releaseChannel(index);
}

bool ChannelRouter::routed(std::int32_t channel) const
{
    return channel >= 0 && channel < 16 && toRack_[static_cast<std::size_t>(channel)].load();
}

void ChannelRouter::onEvent(std::int32_t /*index*/, std::int32_t /*tick*/, MidiEvent* record)
{
    if (record == nullptr || !routed(record->channel))
        return;
    switch (record->kind) {
    case EventKind::NoteOn:
    case EventKind::NoteOff:
        toInstrument(*record);
        record->kind = EventKind::Removed;
        break;
    case EventKind::ControlChange:
        // Both play it: the MIDI output's channel follows the song's controllers.
        toInstrument(*record);
        break;
    case EventKind::ProgramChange:
        rack_.setProgram(record->channel, record->value);
        record->kind = EventKind::Removed;
        break;
    default:
        break;
    }
}

void ChannelRouter::toInstrument(const MidiEvent& record)
{
    if (!routed(record.channel))
        return;
    const auto channel = static_cast<std::uint8_t>(record.channel);
    const auto byte = [](std::int32_t value) { return static_cast<std::uint8_t>(value & 0x7F); };
    const std::uint8_t note = byte(record.data1);
    std::atomic<std::uint64_t>& word = sounding_[channel][note / 64];
    const std::uint64_t bit = std::uint64_t{1} << (note % 64);
    switch (record.kind) {
    case EventKind::NoteOn:
        rack_.queueMidi(0x90 | channel, note, byte(record.velocity));
        if (byte(record.velocity) != 0)
            word.fetch_or(bit);
        else
            word.fetch_and(~bit);
        break;
    case EventKind::NoteOff:
        rack_.queueMidi(0x80 | channel, note, 0);
        word.fetch_and(~bit);
        break;
    case EventKind::ControlChange:
        rack_.queueMidi(0xB0 | channel, byte(record.subtype), byte(record.value));
        break;
    default:
        return;
    }
    touched_[channel].store(true);
    // Routed away meanwhile: the owner's release may have looked before this
    // note was marked, so it is let go here too (twice is harmless).
    if (!routed(channel))
        releaseChannel(channel);
}

void ChannelRouter::releaseChannel(std::size_t channel)
{
    if (!touched_[channel].exchange(false))
        return;
    const auto status = static_cast<std::uint8_t>(channel);
    for (std::size_t half = 0; half < 2; ++half) {
        for (std::uint64_t notes = sounding_[channel][half].exchange(0); notes != 0; notes &= notes - 1) {
            const auto note = static_cast<std::uint8_t>(half * 64 + static_cast<std::size_t>(std::countr_zero(notes)));
            rack_.queueMidi(0x80 | status, note, 0);
        }
    }
    rack_.queueMidi(0xB0 | status, kSustainPedal, 0);
    rack_.queueMidi(0xB0 | status, kAllNotesOff, 0);
}

void ChannelRouter::releaseNotes()
{
    for (std::size_t channel = 0; channel < 16; ++channel)
        releaseChannel(channel);
}

PerEventCallback ChannelRouter::callback()
{
    return [this](std::int32_t index, std::int32_t tick, MidiEvent* record) { onEvent(index, tick, record); };
}

EndCallback ChannelRouter::releaseCallback()
{
    return [this] { releaseNotes(); };
}

}  // namespace sonrigo
