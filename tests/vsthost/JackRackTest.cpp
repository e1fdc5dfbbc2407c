// The audio engine for real: a song's notes through the sequencer on the
// real timer thread, the rack and the project's instrument, out of RtAudio
// into a JACK server started for the test, and recorded there; then the
// server goes away under the running rack.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ScopedMessageCapture.h"
#include "platform/RecordingMidiOutput.h"
#include "platform/RtAudioWaveOutService.h"
#include "playback/MidiControler.h"
#include "playback/MusicPlayer.h"
#include "playback/PlaybackFixture.h"
#include "smf/MidiF0Data.h"
#include "song/MidiEvent.h"
#include "support/JackTestServer.h"
#include "vsthost/ChannelRouter.h"
#include "vsthost/RackEventQueue.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

using namespace std::chrono_literals;

constexpr std::int32_t kNotes = 4;
constexpr std::size_t kCaptureFrames = 60 * test::JackTestServer::kSampleRate;

// The server's loss is told once, from the owner's thread (the rack's own
// test), and the engine goes on in real time.
TEST(JackRack, NotesReachJackEachBeforeTheNextIsDispatchedAndAServerThatStopsIsTold)
{
    test::JackTestServer jack("sonrigo-rack-capture", kCaptureFrames);
    if (!jack.up())
        GTEST_SKIP() << jack.skipReason();
    test::JackAudioCapture& capture = jack.capture();
    ScopedMessageCapture messages;
    const std::shared_ptr<WaveOutService> service = RtAudioWaveOutService::CreateIfAvailable();
    ASSERT_NE(service, nullptr);
    ASSERT_EQ(service->name(), "JACK: system");
    InstallMidiOutputSystem(std::make_shared<RecordingMidiOutput>());
    MidiControler::RearmMissingDeviceReport();

    RackEventQueue events;
    VstRack rack(service, &events);
    rack.loadPlugin(0, SONRIGO_SYNTH_PATH);
    ASSERT_NE(rack.plugin(0), nullptr);
    rack.resumePlugin(0);
    rack.setProgram(0, 0);
    ChannelRouter router(rack);
    router.setRouted(0, true);
    ASSERT_TRUE(rack.start());
    ASSERT_TRUE(capture.connectFrom("Sonrigo"));
    ASSERT_TRUE(capture.waitUntilConnected(3000ms));
    const auto pumpUntil = [&](const std::function<bool()>& done) {
        for (const auto limit = std::chrono::steady_clock::now() + 30s;
             !done() && std::chrono::steady_clock::now() < limit;) {
            events.dispatch(rack);
            events.waitFor(10ms);
        }
    };

    // JACK's frame time as each note-on is handed to the rack.
    std::array<std::atomic<jack_nframes_t>, kNotes> dispatched{};
    std::atomic<std::int32_t> notesSeen{0};
    std::atomic<bool> ended{false};
    // Four notes half a second apart on channel 0.
    std::vector<test::SongEvent> notes = {test::Tempo(0, 500'000)};
    for (std::int32_t i = 0; i < kNotes; ++i) {
        notes.push_back(test::NoteOn(i == 0 ? 0 : 72, 60 + 5 * i));
        notes.push_back(test::NoteOff(24, 60 + 5 * i));
    }
    notes.push_back(test::EndOfTrack(96));
    std::unique_ptr<MidiF0Data> song = test::MakeSong(notes);
    song->Prepare();
    song->Play([&ended] { ended.store(true); },
               [&](std::int32_t index, std::int32_t tick, MidiEvent* record) {
                   if (record != nullptr && record->kind == EventKind::NoteOn) {
                       const std::int32_t n = notesSeen.fetch_add(1);
                       if (n < kNotes)
                           dispatched[static_cast<std::size_t>(n)].store(capture.frameTimeNow());
                   }
                   router.onEvent(index, tick, record);
               });
    // Until the song ends, then half a second for what is still to play.
    pumpUntil([&] { return ended.load(); });
    const auto tail = std::chrono::steady_clock::now() + 500ms;
    pumpUntil([&] { return std::chrono::steady_clock::now() >= tail; });
    MusicPlayer::instance().shutdown();
    InstallMidiOutputSystem(nullptr);
    ASSERT_TRUE(ended.load());
    ASSERT_EQ(notesSeen.load(), kNotes);
    EXPECT_TRUE(messages.take().empty());
    EXPECT_FALSE(capture.overflowed());

    // Each note's onset: the first loud frame after its dispatch (less one
    // period, for the frame-time estimate), before the next note's dispatch.
    const jack_nframes_t first = capture.firstFrameTime();
    for (std::size_t i = 0; i < kNotes; ++i) {
        const auto from = static_cast<std::int64_t>(dispatched[i].load() - first) - test::JackTestServer::kPeriod;
        ASSERT_GE(from, 0);
        auto onset = static_cast<std::size_t>(from);
        while (onset < capture.frames() && std::fabs(capture.samples()[onset]) <= 0.01F)
            ++onset;
        ASSERT_LT(onset, capture.frames()) << "note " << i << " not heard";
        if (i + 1 < kNotes) {
            EXPECT_LT(onset, dispatched[i + 1].load() - first) << "note " << i << " sounded only after the next one";
        }
    }

    // Then the server goes, and its capture with it.
    jack.stopServer();
    std::vector<std::string> told;
    pumpUntil([&] { return !(told = messages.take()).empty(); });
    const std::uint32_t at = rack.waveOut().position();
    pumpUntil([&] { return rack.waveOut().position() > at; });
    EXPECT_GT(rack.waveOut().position(), at);
    EXPECT_TRUE(rack.running());
    rack.stop();
    rack.suspendPlugin(0);
    rack.removeAllPlugins();
    EXPECT_EQ(told, std::vector<std::string>{"再生デバイスとの接続が失われました。"});
}

}  // namespace
}  // namespace sonrigo
