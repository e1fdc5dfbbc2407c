#include "PlaybackFixture.h"

#include <thread>

#include "playback/MidiControler.h"
#include "playback/SequencerState.h"
#include "platform/ThreadTimerService.h"
#include "platform/TimerService.h"
#include "song/MidiEvent.h"
#include "song/MidiTrackData.h"

namespace sonrigo::test {

SongEvent NoteOn(std::int32_t delta, std::int32_t note, std::int32_t velocity, std::int32_t channel)
{
    return {.delta = delta, .kind = EventKind::NoteOn, .channel = channel, .data1 = note, .velocity = velocity};
}

SongEvent NoteOff(std::int32_t delta, std::int32_t note, std::int32_t channel)
{
    return {.delta = delta, .kind = EventKind::NoteOff, .channel = channel, .data1 = note, .velocity = 64};
}

SongEvent Control(std::int32_t delta, std::int32_t number, std::int32_t value, std::int32_t channel)
{
    return {.delta = delta, .kind = EventKind::ControlChange, .channel = channel, .subtype = number, .value = value};
}

SongEvent Program(std::int32_t delta, std::int32_t program, std::int32_t channel)
{
    return {.delta = delta, .kind = EventKind::ProgramChange, .channel = channel, .value = program};
}

SongEvent Tempo(std::int32_t delta, std::int32_t microsecondsPerQuarter)
{
    return {.delta = delta, .kind = EventKind::Meta, .channel = kNoChannel, .subtype = 0x51,
            .value = microsecondsPerQuarter};
}

SongEvent EndOfTrack(std::int32_t delta)
{
    return {.delta = delta, .kind = EventKind::Meta, .channel = kNoChannel, .subtype = 0x2F};
}

std::unique_ptr<MidiF0Data> MakeSong(const std::vector<SongEvent>& events, std::int32_t division)
{
    auto song = std::make_unique<MidiF0Data>(TrackState::OnOff);
    song->setDivision(division);
    for (const SongEvent& e : events) {
        MidiEvent record(e.delta);
        record.kind = e.kind;
        record.channel = e.channel;
        record.data1 = e.data1;
        record.velocity = e.velocity;
        record.subtype = e.subtype;
        record.value = e.value;
        if (!e.payload.empty())
            record.storePayload(e.payload);
        song->track().append(std::move(record));
    }
    return song;
}

bool WaitInRealTime(const std::function<bool()>& done, std::chrono::milliseconds patience)
{
    const auto until = std::chrono::steady_clock::now() + patience;
    while (!done() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

PlaybackTest::PlaybackTest(int ports, Clock clock)
    : timers_(clock == Clock::Virtual ? std::make_shared<VirtualTimerService>() : nullptr)
{
    const std::shared_ptr<TimerService> installed =
        timers_ ? std::shared_ptr<TimerService>(timers_) : std::make_shared<ThreadTimerService>();
    RecordingMidiOutputOptions options;
    options.portCount = ports;
    options.maxRecords = 1 << 16;
    std::weak_ptr<TimerService> stamp = installed;
    options.clock = [stamp] {
        const auto timers = stamp.lock();
        return timers ? timers->nowUs() : 0;
    };
    output_ = std::make_shared<RecordingMidiOutput>(options);
    InstallTimerService(installed);
    InstallMidiOutputSystem(output_);
    MidiControler::RearmMissingDeviceReport();
    SequencerState::instance().setTiming(SequencerTiming::Exact);
    SequencerState::instance().errorCount.store(0);
}

PlaybackTest::~PlaybackTest()
{
    InstallMidiOutputSystem(nullptr);
    InstallTimerService(nullptr);
}

bool PlaybackTest::runUntilStopped(std::uint32_t limitMs)
{
    return timers_->runUntil([] { return SequencerState::instance().playing.load() == 0; }, limitMs);
}

}  // namespace sonrigo::test
