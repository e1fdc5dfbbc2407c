// The built-in synth's road: the MIDI output that offers it, its messages'
// stamps and their frames in the rack's pass, and whole renders through the
// virtual audio session with FluidSynth.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/FluidSoftSynth.h"
#include "platform/RecordingMidiOutput.h"
#include "playback/MidiControler.h"
#include "playback/PlaybackFixture.h"
#include "playback/SequencerState.h"
#include "smf/MidiF0Data.h"
#include "support/CaptureMessages.h"
#include "vsthost/BuiltInSynthOutput.h"
#include "vsthost/ProbeLog.h"
#include "vsthost/HostFixtures.h"
#include "vsthost/VirtualAudioSession.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Notes which frame of its own output each message came at, and plays a
// constant level on its two channels.
struct FrameCountingSynth final : SoftSynth {
    void send(std::span<const std::uint8_t> message) override { applied.emplace_back(frame, Bytes(message.begin(), message.end())); }
    void render(float* left, float* right, std::size_t frames) override
    {
        std::fill_n(left, frames, 0.5f);
        std::fill_n(right, frames, 0.25f);
        frame += static_cast<std::int64_t>(frames);
    }
    std::int64_t frame = 0;
    std::vector<std::pair<std::int64_t, Bytes>> applied;
};

// The rack on a device the test advances, its ring open, the synth above in it.
struct RackWithSynth : test::RackOnManualDevice {
    RackWithSynth()
    {
        rack.setSoftSynth(synth);
        openRing();
    }
    std::shared_ptr<FrameCountingSynth> synth = std::make_shared<FrameCountingSynth>();
};

TEST(BuiltInSynth, MessagesTakeEffectAtTheirFramesAndTheSynthIsMixedWithThePlugins)
{
    test::ProbeLog log;
    RackWithSynth r;
    r.load(0, SONRIGO_PROBE_LEVELS_PATH);
    r.setLevels(0, 0.25f, 0.25f);
    r.rack.renderPass();  // 882 frames; the next pass starts at 2646
    ASSERT_EQ(r.synth->frame, 882);
    EXPECT_EQ(r.rack.mixBuffer()[0], static_cast<std::int16_t>((0.375 + 0.25) * 32767));

    r.advance(220);
    EXPECT_TRUE(r.rack.queueSynthMessage(Bytes{0x91, 60, 100}));
    r.advance(10);
    EXPECT_TRUE(r.rack.queueSynthMessage(Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_TRUE(r.rack.queueSynthMessage(Bytes{0x81, 60, 0}));
    r.advance(1);
    r.rack.renderPass();  // 231 frames
    ASSERT_EQ(r.synth->applied.size(), 3u);
    EXPECT_EQ(r.synth->applied[0], std::make_pair(std::int64_t{882 + 220}, Bytes{0x91, 60, 100}));
    EXPECT_EQ(r.synth->applied[1].first, 882 + 230);
    EXPECT_EQ(r.synth->applied[2].first, 882 + 230);
    EXPECT_EQ(r.synth->frame, 882 + 231);

    // After a stall a stamp can lie past its block: it is kept inside it.
    r.advance(4000);
    EXPECT_TRUE(r.rack.queueSynthMessage(Bytes{0x91, 62, 100}));
    r.advance(410);
    r.rack.renderPass();
    EXPECT_EQ(r.synth->applied.back().first, 882 + 231 + 881);
    EXPECT_EQ(r.rack.synthMessagesDropped(), 0u);
}

TEST(BuiltInSynth, IsTheDefaultOutputOnlyWhereTheSystemHasNoPort)
{
    RackWithSynth r;
    RecordingMidiOutputOptions none;
    none.portCount = 0;
    BuiltInSynthOutput alone(std::make_shared<RecordingMidiOutput>(none), r.rack, "GM synth");
    EXPECT_EQ(alone.portNames(), std::vector<std::string>{"GM synth"});
    EXPECT_EQ(alone.defaultPort(), 0);
    EXPECT_EQ(DefaultPortName(alone), "GM synth");

    RecordingMidiOutputOptions two;
    two.portCount = 2;
    auto system = std::make_shared<RecordingMidiOutput>(two);
    BuiltInSynthOutput beside(system, r.rack, "GM synth");
    EXPECT_EQ(beside.portNames(), (std::vector<std::string>{"Recording port 0", "Recording port 1", "GM synth"}));
    EXPECT_EQ(DefaultPortName(beside), "Recording port 0");
    EXPECT_NE(beside.open(-1), nullptr);
    EXPECT_EQ(beside.open(3), nullptr);

    // What the sequencer's device sends through the synth's port reaches
    // the synth: every byte, and the reset's release of every channel.
    std::unique_ptr<MidiOutputPort> port = alone.open(-1);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->sendShort(Bytes{0xC2, 5}));
    EXPECT_TRUE(port->reset());
    EXPECT_TRUE(port->close());
    EXPECT_FALSE(port->sendShort(Bytes{0x92, 60, 1}));
    r.advance(441);
    r.rack.renderPass();
    ASSERT_EQ(r.synth->applied.size(), 1u + 32u);
    EXPECT_EQ(r.synth->applied[0].second, (Bytes{0xC2, 5}));
    EXPECT_EQ(r.synth->applied[1].second, (Bytes{0xB0, 121, 0}));
    EXPECT_EQ(r.synth->applied[32].second, (Bytes{0xBF, 123, 0}));
}

std::string SoundFontOrEmpty()
{
    return FluidSoftSynth::DefaultSoundFont();
}

// The sequencer's own device, opened on device -1 with no system port, sends
// General MIDI System On at a start: the synth's programs go back to 0.
TEST(BuiltInSynth, GmSystemOnFromTheSequencersDeviceResetsPrograms)
{
    const std::string soundFont = SoundFontOrEmpty();
    if (soundFont.empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    std::string error;
    std::shared_ptr<FluidSoftSynth> fluid = FluidSoftSynth::Create(soundFont, 44100, error);
    ASSERT_NE(fluid, nullptr) << error;
    RackWithSynth r;
    r.rack.setSoftSynth(fluid);
    RecordingMidiOutputOptions none;
    none.portCount = 0;
    InstallMidiOutputSystem(std::make_shared<BuiltInSynthOutput>(std::make_shared<RecordingMidiOutput>(none), r.rack,
                                                                 FluidSoftSynth::kName));
    {
        MidiControler device(-1);
        ASSERT_TRUE(device.isOpen());
        EXPECT_TRUE(device.SendProgramChange(40, 1));
        r.rack.renderPass();
        EXPECT_EQ(fluid->program(1), 40);
        EXPECT_TRUE(device.SendGmSystemOn());
        r.advance(441);
        r.rack.renderPass();
        EXPECT_EQ(fluid->program(1), 0);
        device.Close();
    }
    InstallMidiOutputSystem(nullptr);
}

struct MemorySink : SampleSink {
    void write(const std::int16_t* frames, std::size_t count) override { samples.insert(samples.end(), frames, frames + count); }
    std::vector<std::int16_t> samples;
};

constexpr std::int64_t kLatencyFrames = 2646;
constexpr std::uint32_t kTailMs = 3000;

// A song at 120 bpm (96 ticks a quarter, 0.5 s): channel 1 (0) plays at 0 s
// and 2 s, channel 2 (1) at 1 s and 3 s, each a quarter long; it ends at 4 s.
// Either channel's notes can be left out. Channel 1 plays on the project's
// instrument where `instrument` says so, everything else on the built-in
// synth (a fresh one each time, as a render makes). The clock's timers run on
// the thread that sleeps last, or on their own as in real time.
std::vector<std::int16_t> RenderSong(bool channel1Notes, bool channel2Notes, bool instrument,
                                     bool timersOnTheirOwnThread = false)
{
    using namespace test;
    std::vector<SongEvent> events = {Tempo(0, 500'000), Program(0, 0, 0), Program(0, 0, 1)};
    std::int32_t wait = 0;
    for (std::int32_t beat = 0; beat < 8; beat += 2) {
        const std::int32_t channel = beat % 4 == 0 ? 0 : 1;
        if ((channel == 0 && !channel1Notes) || (channel == 1 && !channel2Notes)) {
            wait += 192;
            continue;
        }
        events.push_back(NoteOn(wait, 60 + beat, 100, channel));
        events.push_back(NoteOff(96, 60 + beat, channel));
        wait = 96;
    }
    events.push_back(EndOfTrack(wait));
    std::unique_ptr<MidiF0Data> song = MakeSong(events);
    song->Prepare();
    SequencerState::instance().setTiming(SequencerTiming::Exact);

    std::string error;
    std::shared_ptr<FluidSoftSynth> synth = FluidSoftSynth::Create(SoundFontOrEmpty(), 44100, error);
    EXPECT_NE(synth, nullptr) << error;
    MemorySink sink;
    {
        VirtualTimerService::Options clock;
        clock.ownThread = timersOnTheirOwnThread;
        VirtualAudioSession session(&sink, clock);
        if (instrument) {
            EXPECT_TRUE(session.loadInstrument(0, SONRIGO_SYNTH_PATH));
        }
        session.useSoftSynth(synth, FluidSoftSynth::kName);
        EXPECT_TRUE(session.start());
        EXPECT_TRUE(session.play(*song, kTailMs));
    }
    return std::move(sink.samples);
}

std::int64_t FirstSoundFrom(const std::vector<std::int16_t>& samples, std::int64_t from)
{
    for (auto f = static_cast<std::size_t>(from); f < samples.size(); ++f) {
        if (std::abs(samples[f]) > 30)
            return static_cast<std::int64_t>(f);
    }
    return -1;
}

TEST(BuiltInSynthRender, SoundsWhereNoInstrumentPlaysMixesWithOneEndsInSilenceAndRepeatsExactlyOnEitherClock)
{
    if (SoundFontOrEmpty().empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    test::ProbeLog home;  // the instrument's settings stay in a temporary HOME
    test::CaptureMessages messages;
    const std::vector<std::int16_t> both = RenderSong(true, true, true);
    const std::vector<std::int16_t> instrumentOnly = RenderSong(true, false, true);
    const std::vector<std::int16_t> synthOnly = RenderSong(false, true, false);
    ASSERT_EQ(instrumentOnly.size(), both.size());
    ASSERT_EQ(synthOnly.size(), both.size());

    // The synth's notes (channel 2, at 1 s and 3 s) sound where the song puts
    // them, the audio engine's latency later. FluidSynth starts a voice at
    // the next of its 64-frame blocks, and the attack takes a moment more.
    const std::int64_t songStart = FirstSoundFrom(instrumentOnly, 0) - kLatencyFrames;
    for (const std::int64_t second : {1, 3}) {
        const std::int64_t expected = songStart + second * 44100 + kLatencyFrames;
        const std::int64_t onset = FirstSoundFrom(synthOnly, expected - 2000);
        EXPECT_GE(onset, expected) << second << " s";
        EXPECT_LE(onset, expected + 64 + 64) << second << " s";
    }
    // The mix is the sum of its parts: each part alone was truncated to 16
    // bits once, the mix once.
    std::int64_t worst = 0;
    for (std::size_t i = 0; i < both.size(); ++i)
        worst = std::max<std::int64_t>(worst, std::abs(both[i] - (instrumentOnly[i] + synthOnly[i])));
    EXPECT_LE(worst, 2);
    // Silent after the song: the last note's release and the reverb have
    // died away within the tail.
    for (std::size_t f = both.size() - 22050; f < both.size(); ++f)
        ASSERT_EQ(both[f], 0) << "frame " << f << " of " << both.size();

    // Again, with the timers on a thread of their own as a real-time timer
    // runs them: the very same samples.
    const std::vector<std::int16_t> again = RenderSong(true, true, true, true);
    EXPECT_EQ(again, both);
    EXPECT_EQ(messages.take(), std::vector<std::string>{});
}

}  // namespace
}  // namespace sonrigo
