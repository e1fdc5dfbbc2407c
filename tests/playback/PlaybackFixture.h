#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "common/ScopedMessageCapture.h"
#include "platform/MidiOutput.h"
#include "platform/RecordingMidiOutput.h"
#include "platform/ThreadTimerService.h"
#include "platform/TimerService.h"
#include "platform/VirtualTimerService.h"
#include "playback/MidiControler.h"
#include "playback/SequencerState.h"
#include "smf/MidiF0Data.h"
#include "song/MidiEvent.h"
#include "song/MidiTrackData.h"

namespace sonrigo::test {

// One record of a test song, in on/off form.
struct SongEvent {
    std::int32_t delta = 0;
    std::int32_t kind = 0;
    std::int32_t channel = 0;
    std::int32_t data1 = 0;
    std::int32_t velocity = 0;
    std::int32_t subtype = 0;
    std::int32_t value = 0;
    std::vector<std::uint8_t> payload{};
};

inline SongEvent NoteOn(std::int32_t delta, std::int32_t note, std::int32_t velocity = 100, std::int32_t channel = 0)
{
    return {.delta = delta, .kind = EventKind::NoteOn, .channel = channel, .data1 = note, .velocity = velocity};
}

inline SongEvent NoteOff(std::int32_t delta, std::int32_t note, std::int32_t channel = 0)
{
    return {.delta = delta, .kind = EventKind::NoteOff, .channel = channel, .data1 = note, .velocity = 64};
}

inline SongEvent Control(std::int32_t delta, std::int32_t number, std::int32_t value, std::int32_t channel = 0)
{
    return {.delta = delta, .kind = EventKind::ControlChange, .channel = channel, .subtype = number, .value = value};
}

inline SongEvent Program(std::int32_t delta, std::int32_t program, std::int32_t channel = 0)
{
    return {.delta = delta, .kind = EventKind::ProgramChange, .channel = channel, .value = program};
}

inline SongEvent Tempo(std::int32_t delta, std::int32_t microsecondsPerQuarter)
{
    return {.delta = delta, .kind = EventKind::Meta, .channel = kNoChannel, .subtype = 0x51,
            .value = microsecondsPerQuarter};
}

inline SongEvent EndOfTrack(std::int32_t delta)
{
    return {.delta = delta, .kind = EventKind::Meta, .channel = kNoChannel, .subtype = 0x2F};
}

// A playable song (on/off form) of these records.
inline std::unique_ptr<MidiF0Data> MakeSong(const std::vector<SongEvent>& events, std::int32_t division = 96)
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

// Waits in real time, polling every 10 ms, until done() holds; false when the
// patience (only a hang uses it up) ran out first.
inline bool WaitInRealTime(const std::function<bool()>& done,
                           std::chrono::milliseconds patience = std::chrono::seconds(20))
{
    const auto until = std::chrono::steady_clock::now() + patience;
    while (!done() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// Virtual time, a recording MIDI output stamped with it and captured
// messages, installed for one test; the process-wide ones come back after.
// With Clock::Real the real timer service is installed instead (for callbacks
// that block, which would stop a virtual clock) and timers_ is null.
class PlaybackTest : public ::testing::Test {
protected:
    enum class Clock { Virtual, Real };
    explicit PlaybackTest(int ports = 1, Clock clock = Clock::Virtual)
        : timers_(clock == Clock::Virtual ? std::make_shared<VirtualTimerService>() : nullptr)
    {
        const std::shared_ptr<TimerService> installed =
            timers_ ? std::shared_ptr<TimerService>(timers_) : std::make_shared<ThreadTimerService>();
        RecordingMidiOutputOptions options;
        options.portCount = ports;
        options.maxRecords = 1 << 16;
        options.clock = [stamp = std::weak_ptr<TimerService>(installed)] {
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
    ~PlaybackTest() override
    {
        InstallMidiOutputSystem(nullptr);
        InstallTimerService(nullptr);
    }

    // Lets virtual time run until the sequencer stops playing (or limitMs).
    bool runUntilStopped(std::uint32_t limitMs = 600'000)
    {
        return timers_->runUntil([] { return SequencerState::instance().playing.load() == 0; }, limitMs);
    }

    std::shared_ptr<VirtualTimerService> timers_;
    std::shared_ptr<RecordingMidiOutput> output_;
    ScopedMessageCapture messages_;
};

}  // namespace sonrigo::test
