// The whole audio road of a song: sequencer, per-event routing, the project's
// instrument and the built-in synth (FluidSynth), render passes, the ring and
// the device, on a virtual clock into memory; and a stress run of the rack's
// threads on the real clock.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/ScopedMessageCapture.h"
#include "platform/FluidSoftSynth.h"
#include "platform/NullWaveOutService.h"
#include "platform/RecordingMidiOutput.h"
#include "playback/PlaybackFixture.h"
#include "playback/SequencerState.h"
#include "smf/MidiF0Data.h"
#include "vsthost/ProbeLog.h"
#include "vsthost/RackEventQueue.h"
#include "vsthost/VirtualAudioSession.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using Samples = std::vector<std::int16_t>;

constexpr std::int64_t kLatencyFrames = 2646;

struct MemorySink : SampleSink {
    void write(const std::int16_t* frames, std::size_t count) override { samples.insert(samples.end(), frames, frames + count); }
    Samples samples;
};

struct Rendered {
    Samples samples;
    std::int64_t songStartFrame = -1;  // where the first record was dispatched; known without the synth
};

// A song at 120 bpm (96 ticks a quarter, 0.5 s): channel 1 (0) plays at 0 s
// and 2 s, channel 2 (1) at 1 s and 3 s, each a quarter long; it ends at 4 s,
// and 3 s of tail follow. With `instrument` channel 1 plays on the project's
// instrument, without it not at all; with `synth` channel 2 plays on the
// built-in synth (a fresh one each time, as a render makes), without it not
// at all, and the MIDI output records when the controller on channel 10 that
// starts the song went out. The clock's timers run on the thread that sleeps
// last, or on their own as in real time.
Rendered RenderSong(bool instrument, bool synth, bool timersOnTheirOwnThread = false)
{
    using namespace test;
    std::vector<SongEvent> events = {Tempo(0, 500'000), Control(0, 7, 100, 9), Program(0, 0, 0), Program(0, 0, 1)};
    for (std::int32_t beat = 0; beat < 8; beat += 2) {
        const std::int32_t channel = beat % 4 == 0 ? 0 : 1;
        const bool sounds = channel == 0 ? instrument : synth;  // else a note-on of velocity 0, a note-off
        events.push_back(NoteOn(beat == 0 ? 0 : 96, 60 + beat, sounds ? 100 : 0, channel));
        events.push_back(NoteOff(96, 60 + beat, channel));
    }
    events.push_back(EndOfTrack(96));
    std::unique_ptr<MidiF0Data> song = MakeSong(events);
    song->Prepare();  // the loader hands over a prepared song
    SequencerState::instance().setTiming(SequencerTiming::Exact);

    RecordingMidiOutputOptions options;
    options.clock = [] { return CurrentTimerService()->nowUs(); };
    auto output = std::make_shared<RecordingMidiOutput>(options);
    MemorySink sink;
    std::int64_t openedUs = 0;
    {
        VirtualTimerService::Options clock;
        clock.ownThread = timersOnTheirOwnThread;
        VirtualAudioSession session(&sink, clock);
        if (instrument) {
            EXPECT_TRUE(session.loadInstrument(0, SONRIGO_SYNTH_PATH));
        }
        std::string error;
        if (synth)
            session.useSoftSynth(FluidSoftSynth::Create(FluidSoftSynth::DefaultSoundFont(), 44100, error),
                                 FluidSoftSynth::kName);
        else
            session.useMidiOutput(output);
        EXPECT_EQ(error, "");
        openedUs = session.clock().nowUs();
        EXPECT_TRUE(session.start());
        EXPECT_TRUE(session.play(*song, 3000));
    }
    Rendered result{std::move(sink.samples)};
    for (const RecordingMidiOutput::Record& r : output->records()) {
        if (r.kind == RecordingMidiOutput::Kind::Short && r.bytes == std::vector<std::uint8_t>{0xB9, 7, 100}) {
            EXPECT_GE(r.timeUs, openedUs);
            result.songStartFrame = (r.timeUs - openedUs) * 44100 / 1'000'000;
            break;
        }
    }
    return result;
}

TEST(RackEndToEnd, NotesSoundOnTimeMixWithTheBuiltInSynthEndInSilenceAndRepeatExactlyOnEitherClock)
{
    test::ProbeLog home;  // the instrument's settings stay in a temporary HOME
    ScopedMessageCapture messages;
    const Rendered instrumentOnly = RenderSong(true, false);
    ASSERT_GE(instrumentOnly.songStartFrame, 0);
    // How many frames after its time in the song, the engine's latency added,
    // a note sounds.
    const auto lateness = [&](const Samples& samples, std::int64_t second) {
        const std::int64_t expected = instrumentOnly.songStartFrame + second * 44100 + kLatencyFrames;
        const auto loud = std::find_if(samples.begin() + std::max<std::int64_t>(expected - 2000, 0), samples.end(),
                                       [](std::int16_t s) { return std::abs(s) > 30; });
        return (loud - samples.begin()) - expected;
    };
    // The instrument's notes, well within their block: an event placed at its
    // block's start instead of its frame would be up to 441 frames off.
    for (const std::int64_t second : {0, 2})
        EXPECT_NEAR(static_cast<double>(lateness(instrumentOnly.samples, second)), 0.0, 64.0) << second << " s";
    if (FluidSoftSynth::DefaultSoundFont().empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";

    const Samples both = RenderSong(true, true).samples;
    const Samples synthOnly = RenderSong(false, true).samples;
    ASSERT_EQ(instrumentOnly.samples.size(), both.size());
    ASSERT_EQ(synthOnly.size(), both.size());
    // FluidSynth starts a voice at the next of its 64-frame blocks, and the
    // attack takes a moment more.
    for (const std::int64_t second : {1, 3}) {
        const std::int64_t late = lateness(synthOnly, second);
        EXPECT_TRUE(late >= 0 && late <= 128) << second << " s: " << late;
    }
    // The mix is the sum of its parts: each part alone was truncated to 16
    // bits once, the mix once.
    std::int64_t worst = 0;
    for (std::size_t i = 0; i < both.size(); ++i)
        worst = std::max<std::int64_t>(worst, std::abs(both[i] - (instrumentOnly.samples[i] + synthOnly[i])));
    EXPECT_LE(worst, 2);
    // Silent after the song: the last note's release and the reverb have
    // died away within the tail.
    for (std::size_t f = both.size() - 22050; f < both.size(); ++f)
        ASSERT_EQ(both[f], 0) << "frame " << f << " of " << both.size();

    // Again, with the timers on a thread of their own as a real-time timer
    // runs them: the very same samples.
    EXPECT_EQ(RenderSong(true, true, true).samples, both);
    EXPECT_EQ(messages.take(), Strings{});
}

// Events queued from another thread while render passes run, and plug-ins
// loaded and removed between stop and start, as the player does: run under
// ThreadSanitizer, any unguarded access shows. The plug-in in slot 0 checks
// that the events it was given stay as they were until its processing returns.
TEST(RackStress, QueueingWhileRenderingAndReloadingLeavesThePluginsEventsUntouched)
{
    test::ProbeLog log;
    RackEventQueue events;
    VstRack rack(std::make_shared<NullWaveOutService>(), &events);
    rack.loadPlugin(0, SONRIGO_PROBE_CHECK_EVENTS_PATH);
    ::unsetenv("SONRIGO_PROBE_LOG");  // the one in slot 1 without a log: it stays quick
    ASSERT_TRUE(rack.start());

    std::atomic<bool> done{false};
    std::thread sequencer([&] {
        for (std::uint8_t note = 0; !done.load(); ++note) {
            rack.queueMidi(0x90 | (note & 1), note & 0x7F, 100);
            rack.setProgram(note & 1, 1);
            (void)rack.getProgram(note & 1);
            std::this_thread::sleep_for(200us);
        }
    });
    for (int round = 0; round < 6; ++round) {
        for (int i = 0; i < 5; ++i) {
            events.dispatch(rack);
            std::this_thread::sleep_for(5ms);
        }
        rack.stop();
        for (std::int32_t slot = 0; slot < 2; ++slot)
            rack.suspendPlugin(slot);
        if (round % 2 == 0)
            rack.loadPlugin(1, SONRIGO_PROBE_PATH);
        else
            rack.removePlugin(1);
        rack.resumePlugin(0);
        rack.resumePlugin(1);
        ASSERT_TRUE(rack.start());
    }
    done.store(true);
    sequencer.join();
    rack.stop();
    rack.removeAllPlugins();
    EXPECT_EQ(events.dropped(), 0u);
    const Strings checks = log.linesStartingWith("events ");
    EXPECT_GT(checks.size(), 5u);
    EXPECT_EQ(std::ranges::count_if(checks, [](const std::string& line) { return line.starts_with("events changed"); }), 0);
}

}  // namespace
}  // namespace sonrigo
