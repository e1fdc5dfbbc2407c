#include "smf/MidiF0Data.h"

#include <algorithm>

#include "common/ErrorTexts.h"
#include "playback/MusicPlayer.h"
#include "platform/TimerService.h"
#include "smf/MidiF1Data.h"
#include "smf/SmfBuffer.h"
#include "smf/SmfFile.h"
#include "song/MidiTrackData.h"
#include "song/TickMath.h"

namespace sonrigo {

MidiF0Data::MidiF0Data(const std::string& path, bool fallBack) : track_(std::make_unique<MidiTrackData>())
{
    SmfBuffer file;
    ReadWholeFile(path, file);
    state_ = 0;
    if (ReadHeader(file, false) != 0) {
        ReadTrack(file);
        Prepare();
        return;
    }
    if (!fallBack)
        return;
    // Not a format-0 file: read it as format 1 and merge its tracks into one.
    // That reader does not come back here, so a file that is neither ends as
    // an empty song.
    MidiF1Data song(path, false);
    track_ = std::make_unique<MidiTrackData>(TrackState::Duration);
    division_ = song.division();
    if (song.state() == TrackState::Duration)
        song.MergeInto(*this);
    state_ = TrackState::Duration;
}

MidiF0Data::MidiF0Data(std::int32_t trackState)
    : state_(trackState), track_(std::make_unique<MidiTrackData>(trackState))
{
}

MidiF0Data::MidiF0Data(const MidiF0Data& other)
    : division_(other.division_)
    , state_(other.state_)
    , timeSignature_(other.timeSignature_)
    , track_(std::make_unique<MidiTrackData>(*other.track_))
{
}

MidiF0Data::~MidiF0Data() = default;

std::string_view MidiF0Data::ReportError(ErrorCode code)
{
    return kMidiF0DataErrors.report(code);
}

bool MidiF0Data::requireState(std::int32_t needed) const
{
    if (state_ == needed)
        return true;
    ReportError(MidiF0DataError::Internal);
    return false;
}

std::int32_t MidiF0Data::ReadHeader(SmfBuffer& buffer, bool report)
{
    if (buffer.size() == 0)
        return 0;
    const std::span<std::uint8_t> file = buffer.bytes();
    if (HasMacBinaryPrefix(file))
        DetectSmfFormat(file);  // moves the bytes from 128 down; the size is kept
    const std::int64_t at = buffer.position();
    auto fail = [&](ErrorCode code) {
        if (report)
            ReportError(code);
        return 0;
    };
    if (!StartsWithHeaderId(file.subspan(std::min<std::size_t>(static_cast<std::size_t>(std::max<std::int64_t>(at, 0)), file.size()))))
        return fail(MidiF0DataError::NotMidiFile);
    if ((buffer.byteAt(at + 8) << 8 | buffer.byteAt(at + 9)) != 0)
        return fail(MidiF0DataError::NotFormat0);
    if ((buffer.byteAt(at + 10) << 8 | buffer.byteAt(at + 11)) != 1)
        return fail(MidiF0DataError::WrongTrackCount);
    division_ = buffer.byteAt(at + 12) << 8 | buffer.byteAt(at + 13);
    buffer.setPosition(static_cast<std::int32_t>(at + kSmfHeaderLength));
    return 1;
}

void MidiF0Data::ReadTrack(SmfBuffer& buffer)
{
    if (!requireState(0))
        return;
    track_ = std::make_unique<MidiTrackData>(buffer.bytes(), buffer.position());
    buffer.setPosition(buffer.position() + track_->size());
    state_ = TrackState::OnOff;
}

void MidiF0Data::Prepare()
{
    if (!requireState(TrackState::OnOff))
        return;
    track_->toDurationForm();
    state_ = TrackState::Duration;
}

void MidiF0Data::Unprepare()
{
    if (!requireState(TrackState::Duration))
        return;
    track_->toOnOffForm();
    state_ = TrackState::OnOff;
}

void MidiF0Data::ChangeDivision(std::int32_t newDivision)
{
    track_->rescale(division_, newDivision, 0);
    division_ = newDivision;
}

std::int32_t MidiF0Data::TicksPerBar() const
{
    std::int32_t signature = timeSignature_;
    if (signature == 0 && !track_->findTimeSignature(signature))
        return kDefaultTicksPerBar;
    const std::int32_t denominator = signature % 256;
    const std::int32_t numerator = signature / 256;
    // A bar of no beats, or of beats of no length, has no length: use 4/4 at 96.
    if (signature == 0 || division_ == 0 || denominator == 0 || numerator == 0)
        return kDefaultTicksPerBar;
    return ClampTicks(static_cast<std::int64_t>(4.0 / denominator * numerator * division_));
}

std::int32_t MidiF0Data::TrimLeadingBars()
{
    if (state_ != TrackState::OnOff && state_ != TrackState::Duration) {
        ReportError(MidiF0DataError::Internal);
        return 0;
    }
    const std::int32_t noteKind = state_ == TrackState::OnOff ? EventKind::NoteOn : EventKind::Note;
    std::int64_t firstNote = 0;
    for (std::int32_t i = 0; i < track_->count(); ++i) {
        firstNote += track_->event(i).delta;
        if (track_->event(i).kind == noteKind)
            break;
    }
    const std::int64_t bar = TicksPerBar();
    const std::int64_t cut = bar > 0 ? firstNote / bar * bar : 0;
    std::int64_t now = 0;
    for (std::int32_t i = 0; i < track_->count(); ++i) {
        MidiEvent& event = track_->event(i);
        now += event.delta;
        if (now <= cut) {
            event.delta = 0;
        } else {
            event.delta = ClampTicks(now - cut);
            break;
        }
    }
    return ClampTicks(cut);
}

std::unique_ptr<MidiF0Data> MidiF0Data::MakePlayCopy(std::int32_t& cutOut) const
{
    // Back in on/off form the copy gains a note-off per note: its list gets
    // room for them now, so that it is never moved to a longer one.
    std::size_t notes = 0;
    for (std::int32_t i = 0; i < track_->count(); ++i)
        notes += track_->event(i).kind == EventKind::Note ? 1 : 0;
    auto copy = std::make_unique<MidiF0Data>(state_);
    copy->division_ = division_;
    copy->timeSignature_ = timeSignature_;
    copy->track_ = std::make_unique<MidiTrackData>(*track_, notes);
    copy->ChangeDivision(kPlayDivision);
    copy->Unprepare();
    cutOut = copy->TrimLeadingBars();
    return copy;
}

void MidiF0Data::Play(EndCallback onEnd, PerEventCallback onEvent, EndCallback onReleased)
{
    playbackCopy_.reset();
    std::int32_t cut = 0;
    playbackCopy_ = MakePlayCopy(cut);
    if (onEvent)
        onEvent(0, cut, nullptr);
    PlaybackParameters parameters;
    parameters.song = playbackCopy_.get();
    parameters.keepAlive = playbackCopy_;
    parameters.onEnd = std::move(onEnd);
    parameters.onEvent = std::move(onEvent);
    parameters.onReleased = std::move(onReleased);
    parameters.tickBase = cut;
    parameters.ownsSong = 0;
    parameters.startTick = 0;
    parameters.endTick = -1;
    MusicPlayer::instance().startWorker(std::move(parameters));
}

std::int32_t MidiF0Data::Stop()
{
    const bool stopped = MusicPlayer::instance().stopPlayback() == 1;
    playbackCopy_.reset();
    if (stopped)
        CurrentTimerService()->sleepFor(kSettleAfterStopMs);
    return 1;
}

}  // namespace sonrigo
