#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PlaybackFixture.h"
#include "playback/CallBackPlayer.h"
#include "playback/SequencerState.h"
#include "song/MidiEvent.h"
#include "song/MidiTrackData.h"

namespace sonrigo::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes kGmSystemOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

struct Dispatch {
    std::int32_t index;
    std::int32_t tick;
    std::int64_t timeUs;
};

class SequencerTest : public PlaybackTest {
protected:
    // Plays the song to its end with a CallBackPlayer, recording every
    // per-event call; `remove` marks records Removed from the callback.
    std::vector<Dispatch> play(MidiF0Data& song, std::int32_t startTick = 0, std::vector<std::int32_t> remove = {})
    {
        std::vector<Dispatch> calls;
        {
            CallBackPlayer player(
                song, -1, [this] { ++ends_; },
                [&](std::int32_t index, std::int32_t tick, MidiEvent* record) {
                    calls.push_back({index, tick, timers_->nowUs()});
                    for (std::int32_t r : remove)
                        if (r == index)
                            record->kind = EventKind::Removed;
                },
                0, startTick, -1);
            EXPECT_TRUE(runUntilStopped());
        }
        return calls;
    }

    // The messages after General MIDI System On, without the closing reset.
    std::vector<Bytes> sent()
    {
        std::vector<Bytes> all = output_->messages();
        EXPECT_FALSE(all.empty());
        if (!all.empty()) {
            EXPECT_EQ(all.front(), kGmSystemOn);
            all.erase(all.begin());
        }
        return all;
    }

    int ends_ = 0;
};

TEST_F(SequencerTest, SendsEachKindAsItsBytes)
{
    SongEvent bend{.delta = 0, .kind = EventKind::PitchBend, .channel = 2, .data1 = 0x11, .value = 0x40};
    SongEvent pressure{.delta = 0, .kind = EventKind::PolyPressure, .channel = 0, .data1 = 60, .value = 5};
    SongEvent sysEx{.delta = 0, .kind = EventKind::SysEx, .channel = kNoChannel,
                    .payload = {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}};
    SongEvent text{.delta = 0, .kind = EventKind::Meta, .channel = kNoChannel, .subtype = 0x01};
    auto song = MakeSong({NoteOn(0, 60, 200, 1), NoteOff(10, 60, 9), Control(0, 7, 100, 3), Program(0, 5, 4), bend,
                          pressure, sysEx, text, EndOfTrack(0)});
    play(*song);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x91, 60, 127}, {0x89, 60, 0}, {0xB3, 7, 100}, {0xC4, 5}, {0xE2, 0x11, 0x40},
                                          {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}));
    EXPECT_EQ(ends_, 0);  // the end of the song is the worker's to report
}

// At 96 ticks per quarter and 500000 us per quarter a tick is 5208.33 us:
// every record is due at its exact time from the first one, whatever the
// millisecond rounding, and the first fires one tick period (2 ms at the
// starting 240 bpm) after the start.
TEST_F(SequencerTest, DispatchesEveryRecordWithinAMillisecondOfItsExactTime)
{
    std::vector<SongEvent> events{Tempo(0, 500000)};
    for (int i = 0; i < 1000; ++i)
        events.push_back(NoteOn(1, 60));
    events.push_back(NoteOn(96, 62));
    events.push_back(Tempo(0, 6'001'000));  // 9 bpm: too slow, 10 is used
    events.push_back(NoteOn(96, 64));
    events.push_back(Tempo(0, 999));  // below 1000 us: General Error, 60 bpm
    events.push_back(NoteOn(96, 65));
    auto song = MakeSong(events);
    const std::vector<Dispatch> calls = play(*song);
    ASSERT_EQ(calls.size(), events.size());

    const std::int64_t origin = 2000;
    for (std::size_t i = 0; i <= 1000; ++i) {
        const std::int64_t exact = origin + static_cast<std::int64_t>(i) * 500000 / 96;
        EXPECT_NEAR(calls[i].timeUs, exact, 1000) << "record " << i;
    }
    const std::int64_t afterRun = origin + 1000 * std::int64_t{500000} / 96;
    EXPECT_NEAR(calls[1001].timeUs, afterRun + 500000, 1000);
    EXPECT_NEAR(calls[1003].timeUs, afterRun + 500000 + 6'000'000, 1000);
    EXPECT_NEAR(calls[1005].timeUs, afterRun + 500000 + 6'000'000 + 1'000'000, 1000);
    EXPECT_EQ(messages_.take(), (std::vector<std::string>{"Tempo is too slow!", "General Error"}));
    EXPECT_EQ(calls.back().tick, 1000 + 3 * 96);
}

TEST_F(SequencerTest, SameMomentRecordsGoInOneFiringInListOrderAndRemovedOnesAreNotSent)
{
    auto song = MakeSong({NoteOn(0, 60), NoteOn(0, 61), NoteOn(0, 62), NoteOn(96, 63)});
    const std::vector<Dispatch> calls = play(*song, 0, {1});
    ASSERT_EQ(calls.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[static_cast<std::size_t>(i)].index, i);
        EXPECT_EQ(calls[static_cast<std::size_t>(i)].timeUs, calls[0].timeUs);
    }
    EXPECT_GT(calls[3].timeUs, calls[0].timeUs);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x90, 60, 100}, {0x90, 62, 100}, {0x90, 63, 100}}));
}

TEST_F(SequencerTest, AStopRequestEndsAtTheNextFiringWithNothingSent)
{
    auto song = MakeSong({NoteOn(0, 60), NoteOn(96, 61), NoteOn(96, 62)});
    CallBackPlayer player(*song, -1, [] {}, [](std::int32_t, std::int32_t, MidiEvent*) {}, 0, 0, -1);
    timers_->runFor(3);  // the first record has gone
    SequencerState::instance().stopRequest.store(1);
    EXPECT_TRUE(runUntilStopped());
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x90, 60, 100}}));
}

// The last program, controllers and tempo before the start, in channel order;
// a time signature of 0 is reported.
TEST_F(SequencerTest, AStartInMidSongSendsTheChasedStateFirst)
{
    SongEvent noSignature{.delta = 0, .kind = EventKind::Meta, .channel = kNoChannel, .subtype = 0x58, .value = 0};
    auto song = MakeSong({Program(0, 5, 0), Program(0, 7, 0), Control(0, 7, 100, 1), Tempo(0, 400000),
                          Control(0, 10, 20, 0), noSignature, NoteOn(10, 60), NoteOn(100, 61), NoteOn(96, 62)});
    const std::vector<Dispatch> calls = play(*song, 50);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].index, 7);
    EXPECT_EQ(calls[0].tick, 110);  // the skipped 10 ticks, then this record's 100
    EXPECT_EQ(calls[1].timeUs - calls[0].timeUs, 400'000);  // a quarter at the chased tempo
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0xC0, 7}, {0xB0, 10, 20}, {0xB1, 7, 100}, {0x90, 61, 100},
                                          {0x90, 62, 100}}));
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"error in MidiStatus!"});
}

TEST_F(SequencerTest, EndsCleanlyForDivisionZeroAndForAStartPastTheLastRecord)
{
    auto noDivision = MakeSong({NoteOn(0, 60)}, 0);
    play(*noDivision);
    EXPECT_EQ(messages_.take(), std::vector<std::string>{"General Error"});
    EXPECT_EQ(SequencerState::instance().playing.load(), 0);

    output_->clear();
    auto song = MakeSong({NoteOn(0, 60), NoteOn(10, 61)});
    EXPECT_TRUE(play(*song, 1000).empty());
    EXPECT_TRUE(sent().empty());
}

}  // namespace
}  // namespace sonrigo::test
