// The whole audio road of a song: sequencer, per-event routing, queueMidi,
// render passes, the ring and the device, on a virtual clock into memory;
// and a stress run of the rack's threads on the real clock.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/NullWaveOutService.h"
#include "platform/RecordingMidiOutput.h"
#include "playback/MidiControler.h"
#include "playback/PlaybackFixture.h"
#include "playback/SequencerState.h"
#include "smf/MidiF0Data.h"
#include "support/CaptureMessages.h"
#include "vsthost/ProbeLog.h"
#include "vsthost/RackEventQueue.h"
#include "vsthost/VirtualAudioSession.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

struct MemorySink : SampleSink {
    void write(const std::int16_t* frames, std::size_t count) override { samples.insert(samples.end(), frames, frames + count); }
    std::vector<std::int16_t> samples;
};

constexpr std::int32_t kNotes = 4;
constexpr std::int64_t kNoteSpacingUs = 1'000'000;  // two quarters at 120 beats a minute
constexpr std::int64_t kLatencyFrames = 2646;
constexpr std::int64_t kBlock = 882;
// The virtual device's position moves in steps of a millisecond (44 frames),
// and an onset shows one or two samples after its event.
constexpr std::int64_t kOnsetTolerance = 64;

struct Rendered {
    std::vector<std::int16_t> samples;
    std::int64_t songStartFrame = 0;  // in the recording: when the first record was dispatched
};

// Plays four short notes a second apart on the project's instrument (channel
// 0) with a controller on channel 9, which goes to the MIDI output and so
// marks when the song started.
Rendered RenderTestSong()
{
    test::ProbeLog home;  // the instrument's settings stay in a temporary HOME
    RecordingMidiOutputOptions options;
    options.clock = [] { return CurrentTimerService()->nowUs(); };
    auto output = std::make_shared<RecordingMidiOutput>(options);
    InstallMidiOutputSystem(output);
    MidiControler::RearmMissingDeviceReport();
    SequencerState::instance().setTiming(SequencerTiming::Exact);

    using namespace test;
    std::vector<SongEvent> events = {Tempo(0, 500'000), Control(0, 7, 100, 9)};
    for (std::int32_t i = 0; i < kNotes; ++i) {
        events.push_back(NoteOn(i == 0 ? 0 : 168, 60 + 4 * i));
        events.push_back(NoteOff(24, 60 + 4 * i));
    }
    events.push_back(EndOfTrack(96));
    std::unique_ptr<MidiF0Data> song = MakeSong(events);
    song->Prepare();  // the loader hands over a prepared song

    Rendered result;
    MemorySink sink;
    std::int64_t openedUs = 0;
    {
        VirtualAudioSession session(&sink);
        EXPECT_TRUE(session.loadInstrument(0, SONRIGO_SYNTH_PATH));
        openedUs = session.clock().nowUs();
        EXPECT_TRUE(session.start());
        EXPECT_TRUE(session.play(*song, 1000));
    }
    InstallMidiOutputSystem(nullptr);
    std::int64_t songStartUs = -1;
    for (const RecordingMidiOutput::Record& r : output->records()) {
        if (r.kind == RecordingMidiOutput::Kind::Short && r.bytes.size() == 3 && r.bytes[0] == 0xB9 && r.bytes[1] == 7) {
            songStartUs = r.timeUs;
            break;
        }
    }
    EXPECT_GE(songStartUs, openedUs);
    result.songStartFrame = (songStartUs - openedUs) * 44100 / 1'000'000;
    result.samples = std::move(sink.samples);
    return result;
}

std::uint64_t Fnv1a(const std::vector<std::int16_t>& samples)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const std::int16_t s : samples) {
        for (int shift = 0; shift < 16; shift += 8) {
            hash ^= static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> shift);
            hash *= 0x100000001b3u;
        }
    }
    return hash;
}

TEST(RackEndToEnd, EveryNoteSoundsWithinOneBlockOfItsTimeAndRunsRepeatExactly)
{
    test::CaptureMessages messages;
    const Rendered first = RenderTestSong();
    ASSERT_FALSE(first.samples.empty());
    for (std::int32_t i = 0; i < kNotes; ++i) {
        const std::int64_t expected = first.songStartFrame + i * kNoteSpacingUs * 44100 / 1'000'000 + kLatencyFrames;
        std::int64_t onset = -1;
        for (auto f = static_cast<std::size_t>(std::max<std::int64_t>(expected - 4 * kBlock, 0)); f < first.samples.size(); ++f) {
            if (std::abs(first.samples[f]) > 300) {
                onset = static_cast<std::int64_t>(f);
                break;
            }
        }
        // Well within the block: an event placed at its block's start instead
        // of its frame would be up to 441 frames off.
        EXPECT_NEAR(static_cast<double>(onset), static_cast<double>(expected), static_cast<double>(kOnsetTolerance))
            << "note " << i;
    }
    // Silent after the last note's release.
    const std::size_t tail = first.samples.size() - 44100 / 4;
    for (std::size_t f = tail; f < first.samples.size(); ++f)
        ASSERT_EQ(first.samples[f], 0) << "frame " << f;

    const Rendered second = RenderTestSong();
    EXPECT_EQ(second.samples.size(), first.samples.size());
    EXPECT_EQ(Fnv1a(second.samples), Fnv1a(first.samples));
    std::printf("deterministic render: %zu frames, FNV-1a %016llx\n", first.samples.size(),
                static_cast<unsigned long long>(Fnv1a(first.samples)));
    EXPECT_EQ(messages.take(), std::vector<std::string>{});
}

// Stop in the middle of a chord held with the pedal down, as the window does
// it with the audio running: the instrument is left holding nothing.
TEST(RackEndToEnd, StopLetsGoOfEveryNoteTheInstrumentHolds)
{
    test::ProbeLog log;
    test::CaptureMessages messages;
    InstallMidiOutputSystem(std::make_shared<RecordingMidiOutput>());
    using namespace test;
    std::unique_ptr<MidiF0Data> song =
        MakeSong({Control(0, 64, 127), NoteOn(0, 60), NoteOn(0, 64), NoteOn(0, 67), NoteOff(48, 67), NoteOff(96 * 40, 60),
                  NoteOff(0, 64), EndOfTrack(96)});
    song->Prepare();
    {
        VirtualAudioSession session(nullptr);
        ASSERT_TRUE(session.loadInstrument(0, SONRIGO_PROBE_PATH));
        ASSERT_TRUE(session.start());
        ChannelRouter& router = session.router();
        song->Play({}, router.callback(), router.releaseCallback());
        session.runFor(2000);
        song->Stop();
        session.runFor(100);
    }
    InstallMidiOutputSystem(nullptr);
    Strings events = log.linesStartingWith("event ");
    for (std::string& line : events)
        line = line.substr(line.size() - 9);  // the bytes, not the frame
    EXPECT_EQ(Strings(events.end() - 4, events.end()), (Strings{" 80 3c 00", " 80 40 00", " b0 40 00", " b0 7b 00"}));
    EXPECT_TRUE(messages.take().empty());
}

// Events queued from another thread while render passes run, and plug-ins
// loaded and removed between stop and start, as the player does: run under
// ThreadSanitizer, any unguarded access shows.
TEST(RackStress, QueueingWhileRenderingAndReloading)
{
    test::ProbeLog home;
    ::unsetenv("SONRIGO_PROBE_LOG");  // no log file: the probe stays quick
    RackEventQueue events;
    VstRack rack(std::make_shared<NullWaveOutService>(), &events);
    rack.loadPlugin(0, SONRIGO_PROBE_PATH);
    ASSERT_TRUE(rack.start());

    std::atomic<bool> done{false};
    std::thread sequencer([&] {
        std::uint8_t note = 0;
        while (!done.load()) {
            rack.queueMidi(0x90 | (note & 1), note & 0x7F, 100);
            rack.setProgram(note & 1, 1);
            (void)rack.getProgram(note & 1);
            ++note;
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
}

}  // namespace
}  // namespace sonrigo
