#include "playback/SequencerState.h"

#include <algorithm>
#include <limits>

#include "common/ErrorTexts.h"
#include "common/MusicUnits.h"
#include "playback/MidiControler.h"
#include "playback/MidiStatus.h"
#include "smf/MidiF0Data.h"
#include "song/MidiEvent.h"
#include "song/MidiTrackData.h"

namespace sonrigo {

namespace {

constexpr std::int32_t kTempoMeta = 0x51;
constexpr std::uint32_t kSlowestTempo = 10;  // beats per minute
constexpr std::uint32_t kTempoWhenTooFast = 60;

std::string_view ReportPlayerError(ErrorCode code)
{
    return kMidiPlayerErrors.report(code);
}

}  // namespace

SequencerState& SequencerState::instance()
{
    static SequencerState state;
    return state;
}

bool SequencerState::prepare(MidiF0Data& song, int deviceId, std::int32_t startTick, std::int32_t& skippedTicks,
                             MidiControler*& opened)
{
    skippedTicks = 0;
    opened = nullptr;
    if (song.state() != TrackState::OnOff) {
        ReportPlayerError(MidiPlayerError::Internal);
        return false;
    }
    song_.store(&song);

    auto* device = new MidiControler(deviceId);
    if (!device->isOpen()) {
        device->Close();
        delete device;
        device_.store(nullptr);
        playing.store(0);
        return false;
    }
    device_.store(device);
    opened = device;
    device->SendGmSystemOn();

    stopRequest.store(0);
    playing.store(1);
    tempo_.store(kStartTempo);
    tempoUs_.store(60'000'000 / kStartTempo);
    elapsedScaled_.store(0);

    if (startTick == 0) {
        currentIndex_.store(0);
    } else {
        MidiStatus status;
        const MidiStatus::Position position = status.collect(song, startTick);
        currentIndex_.store(position.index);
        skippedTicks = position.skippedTicks;
        for (MidiEvent& event : status.makeEvents())
            send(event);
    }

    // A division of 0 gives no tick length at all: nothing can be timed.
    const std::int64_t perMinute = literalTicksPerMinute();
    if (perMinute <= 0) {
        ReportGeneralError(0);
        playing.store(0);
        return false;
    }
    tickPeriod_.store(static_cast<std::uint32_t>(60000 / perMinute));
    const std::uint32_t minimum = CurrentTimerService()->minPeriodMs();
    if (tickPeriod_.load() < minimum) {
        ReportPlayerError(MidiPlayerError::DivisionTooLarge);
        return false;
    }
    resolution_.store(minimum);
    return true;
}

std::int64_t SequencerState::literalTicksPerMinute() const
{
    const MidiF0Data* song = song_.load();
    const std::int64_t divisionTimesSpeed = std::int64_t{song != nullptr ? song->division() : 0} * kSpeed;
    return static_cast<std::int64_t>(static_cast<double>(divisionTimesSpeed) * tempo_.load() * 0.01);
}

bool SequencerState::atEnd() const
{
    const MidiF0Data* song = song_.load();
    return song == nullptr || currentIndex_.load() >= song->track().count();
}

MidiEvent& SequencerState::currentRecord()
{
    return song_.load()->track().event(currentIndex_.load());
}

std::int32_t SequencerState::advance(MidiEvent& record)
{
    send(record);
    const std::int32_t next = currentIndex_.fetch_add(1) + 1;
    const MidiTrackData& track = song_.load()->track();
    if (next >= track.count())
        return -1;
    const std::int32_t delta = track.event(next).delta;
    if (delta < 0)
        ReportPlayerError(0);
    return delta;
}

void SequencerState::send(MidiEvent& record)
{
    MidiControler* device = device_.load();
    if (device == nullptr)
        return;
    const auto channel = record.channel;
    switch (record.kind) {
    case EventKind::NoteOff:
        device->SendNoteOff(record.data1, channel);
        break;
    case EventKind::NoteOn:
        device->SendNoteOn(record.data1, record.velocity, channel);
        break;
    case EventKind::ControlChange:
        device->SendShortMessage(record.value, record.subtype, EventKind::ControlChange + channel);
        break;
    case EventKind::ProgramChange:
        device->SendProgramChange(record.value, channel);
        break;
    case EventKind::PitchBend:
        device->SendShortMessage(record.value, record.data1, EventKind::PitchBend + channel);
        break;
    case EventKind::SysEx:
    case EventKind::SysExEscape:
    {
        const std::span<const std::uint8_t> bytes = record.payloadBytes();
        device->SendSysEx(static_cast<std::int32_t>(bytes.size()), bytes.data());
        break;
    }
    case EventKind::Meta:
        if (record.subtype == kTempoMeta)
            setTempoFromMeta(record.value);
        break;
    default:
        break;
    }
}

void SequencerState::setTempoFromMeta(std::int32_t microsecondsPerQuarter)
{
    if (microsecondsPerQuarter / 1000 == 0) {
        ReportGeneralError(0);
        tempo_.store(kTempoWhenTooFast);
        tempoUs_.store(60'000'000 / kTempoWhenTooFast);
        return;
    }
    const auto bpm = static_cast<std::uint32_t>(TempoToBpm(microsecondsPerQuarter));
    if (bpm < kSlowestTempo) {
        ReportPlayerError(MidiPlayerError::TempoTooSlow);
        tempo_.store(kSlowestTempo);
        tempoUs_.store(60'000'000 / kSlowestTempo);
        return;
    }
    tempo_.store(bpm);
    tempoUs_.store(microsecondsPerQuarter);
}

void SequencerState::startClock(std::int64_t firstUs)
{
    originUs_.store(firstUs);
    elapsedScaled_.store(0);
}

bool SequencerState::nextDue(std::int32_t delta, std::int64_t firingUs, NextDue& due)
{
    const MidiF0Data* song = song_.load();
    const std::int64_t division = song != nullptr ? song->division() : 0;
    if (timing_.load() == SequencerTiming::Literal) {
        const std::int64_t perMinute = literalTicksPerMinute();
        if (perMinute <= 0)
            return false;
        const auto ms = static_cast<std::int32_t>(std::int64_t{delta} * 60000 / perMinute);
        due.deadlineUs = firingUs + std::int64_t{ms} * 1000;
        due.sameFiring = ms <= 0;
        return true;
    }
    if (division <= 0)
        return false;
    const std::int64_t scale = division * kSpeed;
    // Saturates instead of wrapping: a song would need days to get there.
    const std::int64_t step = std::int64_t{std::max(delta, 0)} * tempoUs_.load() * 100;
    const std::int64_t elapsed = elapsedScaled_.load();
    const std::int64_t sum =
        elapsed > std::numeric_limits<std::int64_t>::max() - step ? std::numeric_limits<std::int64_t>::max() : elapsed + step;
    elapsedScaled_.store(sum);
    due.deadlineUs = originUs_.load() + sum / scale;
    due.sameFiring = due.deadlineUs < firingUs + 1000;
    return true;
}

SequencerState::Step SequencerState::scheduleNext(TimerService& timers, std::int32_t delta, std::int64_t firingUs,
                                                  TimerCallback callback, void* user, std::atomic<TimerId>& timerOut,
                                                  std::atomic<std::int64_t>& firingOut)
{
    NextDue due;
    if (!nextDue(delta, firingUs, due)) {
        playing.store(0);
        ReportGeneralError(0);
        return Step::Failed;
    }
    if (due.sameFiring && !atEnd())
        return Step::SameFiring;
    firingOut.store(due.deadlineUs);
    timerOut.store(timers.startAt(due.deadlineUs, callback, user));
    return Step::Scheduled;
}

void SequencerState::closeDevice(MidiControler* device)
{
    if (device == nullptr)
        return;
    MidiControler* current = device;
    device_.compare_exchange_strong(current, nullptr);
    device->Close();
    delete device;
}

}  // namespace sonrigo
