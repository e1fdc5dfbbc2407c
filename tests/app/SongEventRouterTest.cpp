// Where the rows send each event of a song: a real sequencer run on a virtual
// clock, probe instruments on the rack and a recording MIDI output.
#include "app/SongEventRouter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ChannelState.h"
#include "app/PlaybackMailbox.h"
#include "app/RackPrograms.h"
#include "common/ScopedMessageCapture.h"
#include "platform/RecordingMidiOutput.h"
#include "playback/MusicPlayer.h"
#include "playback/PlaybackFixture.h"
#include "playback/SequencerState.h"
#include "smf/MidiF0Data.h"
#include "song/MidiEvent.h"
#include "vsthost/ProbeLog.h"
#include "vsthost/VirtualAudioSession.h"

namespace sonrigo {
namespace {

using Strings = std::vector<std::string>;
using namespace test;

constexpr std::int32_t kSystem = -1;  // the rows' key for events without a channel

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (const std::uint8_t byte : bytes)
        text += std::string(text.empty() ? "" : " ") + "0123456789abcdef"[byte >> 4] + "0123456789abcdef"[byte & 15];
    return text;
}

class SongEventRouterTest : public ::testing::Test {
protected:
    SongEventRouterTest()
    {
        session_.useMidiOutput(output_);
        SequencerState::instance().setTiming(SequencerTiming::Exact);
    }
    ~SongEventRouterTest() override { MusicPlayer::instance().shutdown(); }

    void routeToInstrument(std::int32_t channel, bool load)
    {
        if (load) {
            ASSERT_TRUE(session_.loadInstrument(channel, SONRIGO_PROBE_PATH));
        }
        session_.router().setRouted(channel, true);  // the window keeps the two routes alike
        state_->setChannelRoute(channel, RouteInstrument);
    }

    // Plays the song through the router (and `afterEach`, which sees every
    // event once the router has) to its end, then lets the rack play what it
    // was given.
    void play(const std::vector<SongEvent>& events, const std::function<void(MidiEvent&)>& afterEach = {},
              bool release = false)
    {
        ASSERT_TRUE(session_.start());
        std::unique_ptr<MidiF0Data> song = MakeSong(events);
        song->Prepare();
        auto ended = std::make_shared<std::atomic<bool>>(false);
        song->Play([ended] { ended->store(true); },
                   [this, afterEach](std::int32_t index, std::int32_t time, MidiEvent* event) {
                       router_.onSongEvent(index, time, event);
                       if (event != nullptr && afterEach)
                           afterEach(*event);
                   },
                   release ? session_.router().releaseCallback() : EndCallback{});
        for (int step = 0; step < 500 && !ended->load(); ++step)
            session_.runFor(20);
        ASSERT_TRUE(ended->load());
        MusicPlayer::instance().shutdown();
        session_.runFor(100);
    }

    // What reached the instruments and the MIDI output, by channel.
    Strings instrumentGot(std::int32_t channel) const
    {
        Strings got;
        for (const std::string& line : log_.linesStartingWith("event ")) {
            const std::string bytes = line.substr(line.size() - 8);
            if (std::stoi(bytes.substr(0, 2), nullptr, 16) % 16 == channel)
                got.push_back(bytes);
        }
        return got;
    }
    Strings outputGot(std::int32_t channel) const
    {
        Strings got;
        for (const std::vector<std::uint8_t>& message : output_->messages()) {
            const bool system = message.front() >= 0xF0;
            if (channel == kSystem ? system : !system && message.front() % 16 == channel)
                got.push_back(Hex(message));
        }
        return got;
    }

    ProbeLog log_;
    ScopedMessageCapture messages_;
    std::shared_ptr<RecordingMidiOutput> output_ = std::make_shared<RecordingMidiOutput>();
    VirtualAudioSession session_{nullptr};
    RackPrograms programs_{session_.rack()};
    std::shared_ptr<ChannelState> state_ = std::make_shared<ChannelState>();
    std::shared_ptr<PlaybackMailbox> mailbox_ = std::make_shared<PlaybackMailbox>();
    SongEventRouter router_{state_, session_.router(), programs_, mailbox_};
};

// One channel per row of the routing: its settings, what the song plays on
// it, and where that goes.
TEST_F(SongEventRouterTest, EachRowSendsItsChannelWhereItsSettingsSay)
{
    enum Route { Output, Instrument, EmptySlot };
    struct Row {
        const char* what;
        std::int32_t channel;
        Route route;
        bool notesOn;
        bool fixed;
        std::vector<SongEvent> events;
        Strings instrument;
        Strings output;
        std::int32_t posted;   // the spin value the row is told to show; 0 none
        std::int32_t program;  // the instrument's program afterwards; -1 not asked
    };
    const std::vector<Row> rows = {
        {"instrument, a note", 0, Instrument, true, false, {NoteOn(0, 60, 100, 0), NoteOff(24, 60, 0)},
         {"90 3c 64", "80 3c 00"}, {}, 0, -1},
        {"instrument switched off, a note", 1, Instrument, false, false, {NoteOn(0, 60, 100, 1), NoteOff(24, 60, 1)},
         {"81 3c 00"}, {}, 0, -1},
        {"instrument, a controller", 2, Instrument, true, false, {Control(0, 7, 100, 2)}, {"b2 07 64"}, {"b2 07 64"},
         0, -1},
        {"instrument, a program change", 3, Instrument, true, false, {Program(0, 2, 3)}, {}, {}, 3, 2},
        {"instrument under Fix, a program change", 4, Instrument, true, true, {Program(0, 2, 4)}, {}, {"c4 02"}, 0, 0},
        {"instrument, a pitch bend", 5, Instrument, true, false,
         {{.kind = EventKind::PitchBend, .channel = 5, .value = 0x40}}, {}, {"e5 00 40"}, 0, -1},
        {"instrument route on an empty slot, a program change", 6, EmptySlot, true, false, {Program(0, 5, 6)}, {}, {},
         1, -1},
        {"output, a note", 7, Output, true, false, {NoteOn(0, 60, 100, 7), NoteOff(24, 60, 7)}, {},
         {"97 3c 64", "87 3c 00"}, 0, -1},
        {"output switched off, a note", 8, Output, false, false, {NoteOn(0, 60, 100, 8), NoteOff(24, 60, 8)}, {},
         {"88 3c 00"}, 0, -1},
        {"output, a controller", 9, Output, true, false, {Control(0, 7, 100, 9)}, {}, {"b9 07 64"}, 0, -1},
        {"output, a program change", 10, Output, true, false, {Program(0, 5, 10)}, {}, {"ca 05"}, 6, -1},
        {"output under Fix, a program change", 11, Output, true, true, {Program(0, 5, 11)}, {}, {}, 0, -1},
        {"no channel, an exclusive message", kSystem, Output, true, false,
         {{.kind = EventKind::SysEx, .channel = kNoChannel, .payload = {0xF0, 0x03, 0x43, 0x10, 0xF7}}}, {},
         {"f0 7e 7f 09 01 f7", "f0 43 10 f7"}, 0, -1},  // after the run's own GM System On
    };
    std::vector<SongEvent> song;
    for (const Row& row : rows) {
        if (row.route != Output)
            routeToInstrument(row.channel, row.route == Instrument);
        state_->setChannelNotesOn(row.channel, row.notesOn);
        state_->setChannelProgramFixed(row.channel, row.fixed);
        song.insert(song.end(), row.events.begin(), row.events.end());
    }
    song.push_back(EndOfTrack(96));
    play(song);

    const PlaybackMailbox::Taken taken = mailbox_->take();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(instrumentGot(row.channel), row.instrument);
        EXPECT_EQ(outputGot(row.channel), row.output);
        if (row.channel != kSystem) {
            EXPECT_EQ(taken.spin[static_cast<std::size_t>(row.channel)], row.posted);
        }
        if (row.program >= 0) {
            EXPECT_EQ(programs_.getProgram(row.channel), row.program);
        }
    }
    EXPECT_EQ(messages_.take(), Strings{});
}

// The channel switch goes off while a note sounds on the instrument: that
// note still ends by the song's own note-off, not by the release at the end.
TEST_F(SongEventRouterTest, ANoteSoundingWhenItsChannelIsSwitchedOffEndsNormally)
{
    routeToInstrument(0, true);
    play({NoteOn(0, 60), NoteOn(48, 64), NoteOff(48, 60), NoteOff(24, 64), EndOfTrack(96)},
         [this](MidiEvent&) { state_->setChannelNotesOn(0, false); }, true);
    EXPECT_EQ(instrumentGot(0), (Strings{"90 3c 64", "80 3c 00", "80 40 00", "b0 40 00", "b0 7b 00"}));
    EXPECT_EQ(outputGot(0), Strings{});
}

}  // namespace
}  // namespace sonrigo
