#include "song/MidiTrackData.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/ErrorTexts.h"
#include "common/WarnOnceReporter.h"
#include "song/TickMath.h"
#include "song/TrackChunkReader.h"

namespace sonrigo {
namespace {

constexpr std::int32_t kEndOfTrack = 0x2F;
constexpr std::int32_t kTimeSignature = 0x58;
constexpr std::int32_t kSequencerSpecific = 0x7F;

bool IsMeta(const MidiEvent& event, std::int32_t type)
{
    return event.kind == EventKind::Meta && (event.subtype & 0xFF) == (type & 0xFF);
}

// Records whose release is reported: a payload of 256 bytes or more, except
// sequencer-specific metas, which are expected to be long.
bool HasLongPayload(const MidiEvent& event)
{
    return event.length >= 256 && event.subtype != kSequencerSpecific;
}

std::uint32_t ReadBigEndian32(std::span<const std::uint8_t> bytes, std::int64_t offset)
{
    std::uint32_t value = 0;
    for (std::int64_t i = offset; i < offset + 4; ++i)
        value = value << 8 | (i >= 0 && i < static_cast<std::int64_t>(bytes.size()) ? bytes[static_cast<std::size_t>(i)] : 0u);
    return value;
}

}  // namespace

MidiTrackData::MidiTrackData() = default;

MidiTrackData::MidiTrackData(std::int32_t state) : state_(state) {}

MidiTrackData::MidiTrackData(std::span<const std::uint8_t> songBytes, std::int64_t offset)
{
    Notices().report(0);
    // A chunk that cannot be read leaves an empty track that the conversions
    // accept quietly, so that the song goes on with the tracks that can be.
    state_ = TrackState::OnOff;

    const std::uint32_t id = ReadBigEndian32(songBytes, offset);
    if (id != 0x4D54726B /* MTrk */ && id != 0x58464B4D /* XFKM */) {
        ReportError(MidiTrackDataError::NotMidiFile);
        return;
    }
    const std::int64_t chunkSize = kChunkHeaderLength + std::int64_t{ReadBigEndian32(songBytes, offset + 4)};
    if (offset < 0 || offset + chunkSize > static_cast<std::int64_t>(songBytes.size())) {
        ReportError(MidiTrackDataError::Internal);
        return;
    }
    size_ = static_cast<std::int32_t>(chunkSize);
    state_ = TrackState::Reading;
    // An event takes two bytes at the least (a delta and a data byte).
    events_.reserve(static_cast<std::size_t>((chunkSize - kChunkHeaderLength) / 2 + 1));
    TrackChunkReader(*this, songBytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(chunkSize)))
        .readEvents();
    state_ = TrackState::OnOff;
}

MidiTrackData::MidiTrackData(const MidiTrackData& other) : MidiTrackData(other, 0) {}

MidiTrackData::MidiTrackData(const MidiTrackData& other, std::size_t spare)
{
    if (other.state_ != TrackState::Duration) {
        ReportError(MidiTrackDataError::Internal);
        return;
    }
    events_.reserve(other.events_.size() + spare);
    for (const MidiEvent& event : other.events_)
        events_.emplace_back(event);
    state_ = TrackState::Duration;
}

MidiTrackData::~MidiTrackData()
{
    reportLongPayloads();
}

EventList MidiTrackData::takeEvents()
{
    reportLongPayloads();
    largeDataShown_ = false;
    return std::exchange(events_, {});
}

void MidiTrackData::reportLongPayloads() const
{
    for (const MidiEvent& event : events_) {
        if (HasLongPayload(event))
            ReportError(0);
    }
}

std::string_view MidiTrackData::ReportError(ErrorCode code)
{
    return kMidiTrackDataErrors.report(code);
}

WarnOnceReporter& MidiTrackData::Notices()
{
    static WarnOnceReporter notices(kMidiTrackDataErrors);
    return notices;
}

void MidiTrackData::ResetRunningStatus()
{
    TrackChunkReader::ResetRunningStatus();
}

bool MidiTrackData::requireState(std::int32_t needed) const
{
    if (state_ == needed)
        return true;
    ReportError(MidiTrackDataError::Internal);
    return false;
}

std::int32_t MidiTrackData::append(MidiEvent record)
{
    if (count() >= kEventLimit && !largeDataShown_) {
        ReportError(MidiTrackDataError::LargeData);
        largeDataShown_ = true;
    }
    events_.push_back(std::move(record));
    return count();
}

void MidiTrackData::insertAt(std::int32_t index, std::int32_t mode, MidiEvent record)
{
    const std::int64_t at = std::clamp<std::int64_t>(mode == 2 ? index : std::int64_t{index} + 1, 0, count());
    events_.insert(events_.begin() + at, std::move(record));
}

void MidiTrackData::removeAt(std::int32_t index)
{
    if (index < 0 || index >= count())
        return;
    const auto at = static_cast<std::size_t>(index);
    if (at + 1 < events_.size())
        events_[at + 1].delta = AddTicks(events_[at + 1].delta, events_[at].delta);
    events_.erase(events_.begin() + index);
}

void MidiTrackData::swap(std::int32_t i, std::int32_t j)
{
    if (i == j || i < 0 || j < 0 || i >= count() || j >= count())
        return;
    auto& a = events_[static_cast<std::size_t>(i)];
    auto& b = events_[static_cast<std::size_t>(j)];
    std::swap(a.delta, b.delta);
    std::swap(a, b);
}

void MidiTrackData::clear()
{
    events_.clear();
    largeDataShown_ = false;
}

void MidiTrackData::compact()
{
    std::size_t kept = 0;
    bool afterRemoved = false;
    std::int32_t carried = 0;
    for (std::size_t i = 0; i < events_.size(); ++i) {
        MidiEvent& event = events_[i];
        if (afterRemoved) {
            event.delta = AddTicks(event.delta, carried);
            if (event.delta < 0)
                ReportError(MidiTrackDataError::Internal);
        }
        afterRemoved = event.kind == EventKind::Removed;
        if (afterRemoved)
            carried = event.delta;
        else if (kept++ != i)
            events_[kept - 1] = std::move(event);
    }
    events_.erase(events_.begin() + static_cast<std::ptrdiff_t>(kept), events_.end());
}

void MidiTrackData::removeFlagged(const std::vector<bool>& flagged)
{
    std::size_t kept = 0;
    std::int32_t carried = 0;
    for (std::size_t i = 0; i < events_.size(); ++i) {
        MidiEvent& event = events_[i];
        event.delta = AddTicks(event.delta, carried);
        carried = 0;
        if (flagged[i])
            carried = event.delta;
        else if (kept++ != i)
            events_[kept - 1] = std::move(event);
    }
    events_.erase(events_.begin() + static_cast<std::ptrdiff_t>(kept), events_.end());
}

bool MidiTrackData::removeMeta(std::int32_t type, bool all)
{
    std::vector<bool> flagged(events_.size(), false);
    bool found = false;
    for (std::size_t i = 0; i < events_.size() && (all || !found); ++i) {
        if (IsMeta(events_[i], type))
            flagged[i] = found = true;
    }
    if (found)
        removeFlagged(flagged);
    return found;
}

bool MidiTrackData::findMetaText(std::int32_t type, std::string& out) const
{
    out.clear();
    for (const MidiEvent& event : events_) {
        if (IsMeta(event, type)) {
            const auto bytes = event.payloadBytes();
            out.assign(bytes.begin(), bytes.end());
            // Missing stored bytes read as zeros in a fresh buffer.
            out.resize(static_cast<std::size_t>(std::max(event.length, 0)), '\0');
            return true;
        }
    }
    return false;
}

void MidiTrackData::insertMetaTextAtStart(std::int32_t type, std::string_view text)
{
    if (text.size() >= 128)
        ReportError(0);
    MidiEvent event(0);
    event.kind = EventKind::Meta;
    event.subtype = type & 0xFF;
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    event.storePayload(bytes);
    event.length = static_cast<std::int32_t>(text.size());
    events_.insert(events_.begin(), std::move(event));
}

bool MidiTrackData::findTimeSignature(std::int32_t& out) const
{
    for (const MidiEvent& event : events_) {
        if (IsMeta(event, kTimeSignature)) {
            out = event.value;
            return true;
        }
    }
    return false;
}

std::int32_t MidiTrackData::firstChannel() const
{
    for (const MidiEvent& event : events_) {
        if (event.channel != kNoChannel && event.kind != EventKind::SysEx && event.kind != EventKind::SysExEscape)
            return event.channel;
    }
    return kNoChannel;
}

void MidiTrackData::appendEndOfTrack(std::int32_t delta)
{
    if (!events_.empty() && IsMeta(events_.back(), kEndOfTrack))
        return;
    MidiEvent event(delta);
    event.kind = EventKind::Meta;
    event.subtype = kEndOfTrack;
    const std::uint8_t bytes[] = {0xFF, 0x2F, 0x00};
    event.storePayload(bytes);
    events_.push_back(std::move(event));
}

MidiEvent& MidiTrackData::normaliseEndOfTrack()
{
    std::vector<bool> flagged(events_.size(), false);
    bool found = false;
    for (std::size_t i = 0; i + 1 < events_.size(); ++i) {
        if (IsMeta(events_[i], kEndOfTrack))
            flagged[i] = found = true;
    }
    if (found)
        removeFlagged(flagged);
    if (events_.empty() || !IsMeta(events_.back(), kEndOfTrack)) {
        MidiEvent event(0);
        event.kind = EventKind::Meta;
        event.subtype = kEndOfTrack;
        append(std::move(event));
    }
    return events_.back();
}

}  // namespace sonrigo
