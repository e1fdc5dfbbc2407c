#include "playback/MidiStatus.h"

#include "common/ErrorTexts.h"
#include "common/MessageSink.h"
#include "common/MusicUnits.h"
#include "smf/MidiF0Data.h"
#include "song/MidiTrackData.h"
#include "song/TickMath.h"

namespace sonrigo {

namespace {

constexpr std::int32_t kTempoMeta = 0x51;
constexpr std::int32_t kTimeSignatureMeta = 0x58;

bool IsChannel(std::int32_t channel)
{
    return channel >= 0 && channel < 16;
}

}  // namespace

MidiStatus::MidiStatus()
{
    program_.fill(kUnset);
    bendHigh_.fill(kUnset);
    bendLow_.fill(kUnset);
    for (auto& channel : controller_)
        channel.fill(kUnset);
}

MidiStatus::Position MidiStatus::collect(const MidiF0Data& song, std::int32_t startTick)
{
    const MidiTrackData& track = song.track();
    std::int64_t tick = 0;
    std::int64_t previous = 0;
    for (std::int32_t i = 0; i < track.count(); ++i) {
        const MidiEvent& event = track.event(i);
        tick += event.delta;
        if (tick >= startTick)
            return {i, ClampTicks(previous)};
        store(event);
        previous = tick;
    }
    return {track.count(), ClampTicks(previous)};
}

void MidiStatus::store(const MidiEvent& event)
{
    switch (event.kind) {
    case EventKind::ProgramChange:
        if (IsChannel(event.channel))
            program_[static_cast<std::size_t>(event.channel)] = event.value;
        break;
    case EventKind::PitchBend:
        if (IsChannel(event.channel)) {
            bendHigh_[static_cast<std::size_t>(event.channel)] = event.value;
            bendLow_[static_cast<std::size_t>(event.channel)] = event.data1;
        }
        break;
    case EventKind::ControlChange:
        if (IsChannel(event.channel) && event.subtype >= 0 && event.subtype < 128)
            controller_[static_cast<std::size_t>(event.channel)][static_cast<std::size_t>(event.subtype)] = event.value;
        break;
    case EventKind::Meta:
        if (event.subtype == kTempoMeta)
            tempo_ = event.value;
        else if (event.subtype == kTimeSignatureMeta)
            timeSignature_ = event.value;
        break;
    default:
        break;
    }
}

std::vector<MidiEvent> MidiStatus::makeEvents() const
{
    std::vector<MidiEvent> events;
    events.reserve(kMaxEvents);
    auto add = [&](std::int32_t kind, std::int32_t channel) -> MidiEvent& {
        MidiEvent& event = events.emplace_back(0);
        event.kind = kind;
        event.channel = channel;
        return event;
    };
    for (std::int32_t channel = 0; channel < 16; ++channel) {
        const auto c = static_cast<std::size_t>(channel);
        if (program_[c] != kUnset)
            add(EventKind::ProgramChange, channel).value = program_[c];
        if (bendHigh_[c] != kUnset) {
            MidiEvent& bend = add(EventKind::PitchBend, channel);
            bend.value = bendHigh_[c];
            bend.data1 = bendLow_[c];
        }
        for (std::int32_t number = 0; number < 128; ++number) {
            const std::int32_t value = controller_[c][static_cast<std::size_t>(number)];
            if (value == kUnset)
                continue;
            MidiEvent& control = add(EventKind::ControlChange, channel);
            control.subtype = number;
            control.value = value;
        }
    }
    if (tempo_ != kUnset) {
        MidiEvent& tempo = add(EventKind::Meta, kNoChannel);
        tempo.subtype = kTempoMeta;
        tempo.value = tempo_;
    }
    if (timeSignature_ != kUnset) {
        MidiEvent& signature = add(EventKind::Meta, kNoChannel);
        signature.subtype = kTimeSignatureMeta;
        signature.value = timeSignature_;
        if (timeSignature_ == 0)
            ShowMessage(kMidiStatusErrorText);
        const auto bytes = PackTimeSignature(timeSignature_);
        signature.storePayload(bytes);
    }
    return events;
}

}  // namespace sonrigo
