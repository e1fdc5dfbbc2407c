#include "smf/MidiF1Data.h"

#include <array>
#include <cstring>

#include "common/ErrorTexts.h"
#include "smf/MidiF0Data.h"
#include "smf/SmfBuffer.h"
#include "smf/SmfFile.h"
#include "song/MidiTrackData.h"
#include "song/TickMath.h"

namespace sonrigo {
namespace {

constexpr std::int32_t kMasterVolumeWhenMissing = 127;

}  // namespace

MidiF1Data::MidiF1Data(const std::string& path, bool fallBack)
{
    SmfBuffer file;
    ReadWholeFile(path, file);
    state_ = 0;
    if (ReadHeader(file) != 0) {
        ReadTracks(file);
        Prepare();
    } else if (fallBack) {
        // Not a format-1 file: read it as format 0 and split it. That reader
        // does not come back here, so a file that is neither ends with no tracks.
        const MidiF0Data song(path, false);
        if (song.state() == TrackState::Duration)
            SplitFrom(song);
    }
    EnsureMasterVolume(true);
}

MidiF1Data::MidiF1Data(const MidiF0Data& song)
{
    SplitFrom(song);
}

MidiF1Data::MidiF1Data(MidiF0Data&& song)
{
    split(song, &song);
}

MidiF1Data::~MidiF1Data() = default;

std::string_view MidiF1Data::ReportError(ErrorCode code)
{
    return kMidiF1DataErrors.report(code);
}

bool MidiF1Data::requireState(std::int32_t needed) const
{
    if (state_ == needed)
        return true;
    ReportError(MidiF1DataError::Internal);
    return false;
}

std::int32_t MidiF1Data::ReadHeader(SmfBuffer& buffer)
{
    if (buffer.size() == 0)
        return 0;
    const std::span<std::uint8_t> file = buffer.bytes();
    if (!StartsWithHeaderId(file)) {
        if (!HasMacBinaryPrefix(file)) {
            ReportError(MidiF1DataError::NotMidiFile);
            return 0;
        }
        const std::size_t rest = file.size() - kMacBinaryPrefixLength;
        std::memmove(file.data(), file.data() + kMacBinaryPrefixLength, rest);
        std::memset(file.data() + rest, 0, kMacBinaryPrefixLength);
        buffer.setSize(buffer.size() - kMacBinaryPrefixLength);
    }
    if ((buffer.byteAt(8) << 8 | buffer.byteAt(9)) != 1) {
        ReportError(MidiF1DataError::NotFormat1);
        return 0;
    }
    declaredTracks_ = buffer.byteAt(10) << 8 | buffer.byteAt(11);
    if (declaredTracks_ > kMaxTracks) {
        ReportError(MidiF1DataError::TooManyTracks);
        declaredTracks_ = kTracksReadWhenTooMany;
    }
    division_ = buffer.byteAt(12) << 8 | buffer.byteAt(13);
    buffer.setPosition(kSmfHeaderLength);
    return 1;
}

void MidiF1Data::ReadTracks(SmfBuffer& buffer)
{
    if (!requireState(0))
        return;
    for (std::int32_t i = 0; i < declaredTracks_; ++i) {
        auto track = std::make_unique<MidiTrackData>(buffer.bytes(), buffer.position());
        buffer.setPosition(buffer.position() + track->size());
        tracks_.push_back(std::move(track));
    }
    state_ = TrackState::OnOff;
}

void MidiF1Data::Prepare()
{
    if (!requireState(TrackState::OnOff))
        return;
    for (auto& track : tracks_)
        track->toDurationForm();
    state_ = TrackState::Duration;
}

std::int32_t MidiF1Data::FindSongMasterVolume()
{
    std::int32_t volume = -1;
    for (auto& track : tracks_) {
        const std::int32_t found = track->findMasterVolume();
        if (found < 0)
            continue;
        if (volume < 0)
            volume = found;
        else
            ReportError(MidiF1DataError::SeveralMasterVolumes);
    }
    return volume;
}

void MidiF1Data::EnsureMasterVolume(bool report)
{
    if (FindSongMasterVolume() >= 0)
        return;
    if (report)
        ReportError(MidiF1DataError::NoMasterVolume);
    if (tracks_.empty())
        return;
    for (auto& track : tracks_) {
        if (track->firstChannel() != kNoChannel) {
            track->insertMasterVolume(kMasterVolumeWhenMissing);
            return;
        }
    }
    tracks_.front()->insertMasterVolume(kMasterVolumeWhenMissing);
}

namespace {

// Where a split puts a record: channel messages to the track of their channel
// (1 to 16), metas to the conductor track 0, exclusives to track 1.
std::size_t TargetTrack(const MidiEvent& event)
{
    if (event.channel >= 0 && event.channel < 16)
        return static_cast<std::size_t>(event.channel) + 1;
    return event.kind == EventKind::Meta ? 0 : 1;
}

}  // namespace

void MidiF1Data::SplitFrom(const MidiF0Data& song)
{
    split(song, nullptr);
}

void MidiF1Data::split(const MidiF0Data& song, MidiF0Data* takeFrom)
{
    if (song.state() != TrackState::Duration) {
        ReportError(MidiF1DataError::Internal);
        return;
    }
    tracks_.clear();
    division_ = song.division();
    for (std::int32_t i = 0; i < kSplitTracks; ++i)
        tracks_.push_back(std::make_unique<MidiTrackData>(TrackState::Duration));

    // Each track's deltas count from the last event that went to it (or from
    // the last End of Track, which goes to all of them).
    std::array<std::int64_t, kSplitTracks> last{};
    std::int64_t now = 0;
    EventList taken;
    if (takeFrom != nullptr)
        taken = takeFrom->track().takeEvents();
    const MidiTrackData& source = song.track();
    const std::size_t count = takeFrom != nullptr ? taken.size() : static_cast<std::size_t>(source.count());
    auto at = [&](std::size_t i) -> const MidiEvent& {
        return takeFrom != nullptr ? taken[i] : source.event(static_cast<std::int32_t>(i));
    };
    // Each list gets its final size at once: grown record by record, a song's
    // lists would leave a trail of outgrown copies behind.
    std::array<std::size_t, kSplitTracks> sizes{};
    std::size_t endsOfTrack = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const MidiEvent& event = at(i);
        if (event.kind == EventKind::Meta && event.subtype == 0x2F)
            ++endsOfTrack;
        else
            ++sizes[TargetTrack(event)];
    }
    for (std::size_t t = 0; t < tracks_.size(); ++t)
        tracks_[t]->reserve(sizes[t] + endsOfTrack);

    for (std::size_t i = 0; i < count; ++i) {
        const MidiEvent& event = at(i);
        now += event.delta;
        if (event.kind == EventKind::Meta && event.subtype == 0x2F) {
            for (std::size_t t = 0; t < tracks_.size(); ++t)
                tracks_[t]->appendEndOfTrack(ClampTicks(now - last[t]));
            last.fill(now);
            continue;
        }
        const std::size_t target = TargetTrack(event);
        MidiEvent copy = takeFrom != nullptr ? std::move(taken[i]) : MidiEvent(event);
        copy.delta = ClampTicks(now - last[target]);
        last[target] = now;
        tracks_[target]->append(std::move(copy));
    }
    state_ = TrackState::Duration;
}

void MidiF1Data::MergeInto(MidiF0Data& song)
{
    if (!requireState(TrackState::Duration))
        return;
    song.setDivision(division_);
    std::vector<const MidiTrackData*> sources;
    sources.reserve(tracks_.size());
    for (const auto& track : tracks_)
        sources.push_back(track.get());
    song.track().mergeTracks(sources);
}

}  // namespace sonrigo
