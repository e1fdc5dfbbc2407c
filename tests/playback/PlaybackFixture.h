#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "common/ScopedMessageCapture.h"
#include "platform/MidiOutput.h"
#include "platform/RecordingMidiOutput.h"
#include "platform/VirtualTimerService.h"
#include "smf/MidiF0Data.h"

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

SongEvent NoteOn(std::int32_t delta, std::int32_t note, std::int32_t velocity = 100, std::int32_t channel = 0);
SongEvent NoteOff(std::int32_t delta, std::int32_t note, std::int32_t channel = 0);
SongEvent Control(std::int32_t delta, std::int32_t number, std::int32_t value, std::int32_t channel = 0);
SongEvent Program(std::int32_t delta, std::int32_t program, std::int32_t channel = 0);
SongEvent Tempo(std::int32_t delta, std::int32_t microsecondsPerQuarter);
SongEvent EndOfTrack(std::int32_t delta);

// A playable song (on/off form) of these records.
std::unique_ptr<MidiF0Data> MakeSong(const std::vector<SongEvent>& events, std::int32_t division = 96);

// Waits in real time, polling every 10 ms, until done() holds; false when the
// patience (only a hang uses it up) ran out first.
bool WaitInRealTime(const std::function<bool()>& done,
                    std::chrono::milliseconds patience = std::chrono::seconds(20));

// Virtual time, a recording MIDI output stamped with it and captured
// messages, installed for one test; the process-wide ones come back after.
// With Clock::Real the real timer service is installed instead (for callbacks
// that block, which would stop a virtual clock) and timers_ is null.
class PlaybackTest : public ::testing::Test {
protected:
    enum class Clock { Virtual, Real };
    explicit PlaybackTest(int ports = 1, Clock clock = Clock::Virtual);
    ~PlaybackTest() override;

    // Lets virtual time run until the sequencer stops playing (or limitMs).
    bool runUntilStopped(std::uint32_t limitMs = 600'000);

    std::shared_ptr<VirtualTimerService> timers_;
    std::shared_ptr<RecordingMidiOutput> output_;
    ScopedMessageCapture messages_;
};

}  // namespace sonrigo::test
