#include "vsthost/VstRack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdint>
#include <functional>
#include <memory>
#include <numeric>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/NullWaveOutService.h"
#include "song/MidiEvent.h"
#include "vsthost/ChannelRouter.h"
#include "vsthost/EditorHost.h"
#include "vsthost/EditorSession.h"
#include "vsthost/HostFixtures.h"
#include "vsthost/PluginProbe.h"
#include "vsthost/VstPlugin.h"

namespace sonrigo {
namespace {

using Strings = std::vector<std::string>;
using test::RackOnManualDevice;

TEST(VstRack, SlotsLoadReplaceAndRemoveOnlyWhileTheAudioIsStopped)
{
    RackOnManualDevice r;
    r.rack.loadPlugin(16, SONRIGO_PROBE_PATH);
    EXPECT_EQ(r.messages.take(), Strings{"MIDIチャンネルの指定が正しくありません。"});
    r.load(2, SONRIGO_PROBE_PATH);
    r.load(5, SONRIGO_PROBE_PATH);
    EXPECT_EQ(r.rack.pluginCount(), 2);
    // An empty slot, or one outside 0..15, answers empty.
    EXPECT_EQ(r.rack.programName(9), "");
    EXPECT_EQ(r.rack.programName(-1), "");
    EXPECT_EQ(r.rack.getProgram(16), 0);

    // While the audio runs nothing changes, and each attempt is told.
    ASSERT_TRUE(r.rack.start());
    r.rack.loadPlugin(2, SONRIGO_PROBE_PATH);
    r.rack.removePlugin(2);
    r.rack.removeAllPlugins();
    r.rack.setSoftSynth(nullptr);
    EXPECT_EQ(r.messages.take(), Strings(4, "VstRack内部エラー：オーディオを止めずに楽器を入れ替えようとしました。"));
    EXPECT_EQ(r.rack.pluginCount(), 2);
    r.rack.stop();

    // A failed load into an occupied slot closes the old plug-in and leaves the slot empty.
    const auto closes = [&] { return r.log.linesStartingWith("dispatch 1 ").size(); };  // effClose
    const auto closesBefore = closes();
    r.rack.loadPlugin(5, SONRIGO_PROBE_NO_ENTRY_PATH);
    EXPECT_EQ(closes(), closesBefore + 1);
    EXPECT_EQ(r.rack.plugin(5), nullptr);
    EXPECT_EQ(r.rack.pluginCount(), 1);
    EXPECT_FALSE(r.messages.take().empty());
    r.rack.removeAllPlugins();
    EXPECT_EQ(closes(), closesBefore + 2);
}

// The frames events are stamped with are checked by the stall test below and
// by the end-to-end render.
TEST(VstRack, QueuedEventsReachTheirChannelsPluginNoneLostAndOnlyNoteEndsWaitForTheDevice)
{
    RackOnManualDevice r;
    r.load(3, SONRIGO_PROBE_PATH);
    // While the device is closed nothing renders: only what stops a note waits.
    r.rack.queueMidi(0x93, 50, 100);
    r.rack.queueMidi(0x83, 51, 0);
    r.rack.queueMidi(0xB3, 64, 0);
    r.openRing();
    r.load(4, SONRIGO_PROBE_PATH);
    r.rack.renderPass();  // the next pass starts at 2646, where these are stamped
    r.rack.queueMidi(0x95, 61, 100);  // slot 5 is empty
    for (std::uint8_t status : {0x94, 0x84}) {
        for (std::uint8_t note = 40; note < 64; ++note)  // a 24-note chord
            r.rack.queueMidi(status, note, status == 0x94 ? 100 : 0);
        r.pass(441);
    }
    const Strings events = r.log.linesStartingWith("event ");
    ASSERT_EQ(events.size(), 2u + 24u + 24u);
    EXPECT_EQ(Strings(events.begin(), events.begin() + 3),
              (Strings{"event 1 0 83 33 00", "event 1 0 b3 40 00", "event 1 0 94 28 64"}));
    EXPECT_EQ(events.back(), "event 1 0 84 3f 00");
}

// Plays the editor protocol as a window would, and removes the plug-in from
// inside its loop.
struct RemovingEditorHost final : EditorHost {
    explicit RemovingEditorHost(VstRack& owner) : rack(owner) {}
    void runModal(EditorSession& session) override
    {
        session.initialise(0x4242, nullptr);
        session.idle();
        rack.removePlugin(6);
    }
    void closeWindow(EditorSession& session) override
    {
        ++closes;
        session.close();
    }
    VstRack& rack;
    int closes = 0;
};

// A plug-in removed from inside its editor's loop is gone when the loop returns.
TEST(VstRack, AnEditorShowsOnlyWhereThereIsOneAndARemovalFromInsideItsLoopClosesItFirst)
{
    RackOnManualDevice r;
    r.load(5, SONRIGO_PROBE_NO_EDITOR_PATH);
    r.load(6, SONRIGO_PROBE_PATH);
    auto host = std::make_shared<RemovingEditorHost>(r.rack);
    InstallEditorHost(host);
    r.rack.openEditor(5);  // no editor: had it run, plug-in 6 would be gone before its own
    r.rack.openEditor(6);
    InstallEditorHost(nullptr);
    EXPECT_EQ(r.rack.plugin(6), nullptr);
    EXPECT_EQ(host->closes, 1);
    const Strings calls = r.log.dispatches();  // the editor's rectangle, idle and close, then the plug-in's
    EXPECT_EQ(Strings(calls.end() - 4, calls.end()), (Strings{"13 0 0 ptr 0", "19 0 0 null 0", "15 0 0 null 0", "1 0 0 null 0"}));
}

TEST(VstRack, AProgramChangeInProgressHoldsNoLockAndTheRemovalWaitsForIt)
{
    RackOnManualDevice r;
    r.openRing();
    r.load(2, SONRIGO_PROBE_SLOW_PROGRAM_PATH);
    std::atomic<bool> changed{false};
    std::thread timerThread([&] {
        r.rack.setProgram(2, 1);
        changed.store(true);
    });
    while (r.log.linesStartingWith("dispatch 2 0 1 ").empty())  // effSetProgram entered
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The plug-in is busy for 300 ms: the queue and the render pass go on.
    r.rack.queueMidi(0x92, 60, 100);
    r.rack.renderPass();
    EXPECT_FALSE(changed.load());
    r.rack.removePlugin(2);
    EXPECT_TRUE(changed.load());
    timerThread.join();
    EXPECT_EQ(r.log.dispatches().back(), "1 0 0 null 0");  // closed once the call was out
}

TEST(VstRack, APassAveragesEachPluginsChannelsSumsThePluginsAndTruncates)
{
    RackOnManualDevice r;
    r.openRing();
    r.load(0, SONRIGO_PROBE_LEVELS_PATH);
    r.load(1, SONRIGO_PROBE_LEVELS_PATH);
    struct Case {
        float a0, a1, b0, b1;
        std::int16_t sample;
    };
    const Case cases[] = {
        {0.5f, -0.5f, 0.0f, 0.0f, 0},  // a plug-in's channels cancel
        {0.8f, 0.8f, 0.8f, 0.8f, 32767},  // the sum clipped
        {-0.75f, -0.75f, -0.75f, -0.75f, -32767},
        {0.99999f, 0.99999f, 0.0f, 0.0f, 32766},  // truncated
    };
    for (const Case& c : cases) {
        r.setLevels(0, c.a0, c.a1);
        r.setLevels(1, c.b0, c.b1);
        r.pass(441);
        EXPECT_EQ(r.rack.mixBuffer()[440], c.sample) << c.a0 << " " << c.b0;
    }
    EXPECT_EQ(r.log.linesStartingWith("process ").back(), "process inputs outputs 441");
}

TEST(VstRack, AnInstrumentsGarbageSilencesItAloneAndMutesItWithOneMessage)
{
    RackOnManualDevice r;
    r.openRing();
    r.load(0, SONRIGO_PROBE_NAN_PATH);
    r.load(1, SONRIGO_PROBE_PATH);  // 0.25 and 0.5: 12287 alone
    r.load(2, SONRIGO_PROBE_HUGE_PATH);
    for (std::int32_t pass = 0; pass < VstPlugin::kBadBlocksBeforeMute + 2; ++pass) {
        r.pass(441);
        EXPECT_TRUE(std::all_of(r.rack.mixBuffer().begin(), r.rack.mixBuffer().begin() + 441,
                                [](std::int16_t s) { return s == 12287; }))
            << "pass " << pass;
        r.events.dispatch(r.rack);
    }
    EXPECT_EQ(r.messages.take(),
              Strings{"sonrigo_probe_nan.so on channel 1 played samples that are not numbers or far beyond full scale, "
                      "and is muted until it is loaded again. So is sonrigo_probe_huge.so on channel 3."});
}

TEST(VstRack, ALibraryIsTriedOnceForAllSlotsAndARefusedOneLeavesThemEmpty)
{
    const std::shared_ptr<PluginProbe> previous =
        InstallPluginProbe(std::make_shared<PluginProbe>(std::vector<std::string>{SONRIGO_CLI_DEVICES_PATH, "plugin-trial"}));
    RackOnManualDevice r;
    std::vector<std::int32_t> all(VstRack::kSlotCount);
    std::iota(all.begin(), all.end(), 0);

    EXPECT_EQ(r.rack.loadInstruments(all, SONRIGO_PROBE_PATH), VstRack::kSlotCount);
    EXPECT_TRUE(r.messages.take().empty());
    EXPECT_EQ(r.rack.loadInstruments(all, SONRIGO_PROBE_CRASH_IN_PROCESS_PATH), 0);
    EXPECT_EQ(r.rack.pluginCount(), 0);
    EXPECT_EQ(r.messages.take().size(), 1u);
    // One that loads but can never sound is said once too.
    EXPECT_EQ(r.rack.loadInstruments(all, SONRIGO_PROBE_NO_OUTPUTS_PATH), VstRack::kSlotCount);
    EXPECT_EQ(r.messages.take(), Strings{"sonrigo_probe_no_outputs.so will not make a sound: it has no audio outputs."});
    EXPECT_EQ(r.rack.loadInstruments(std::span(all).first(1), SONRIGO_PROBE_ABSURD_OUTPUTS_PATH), 1);
    EXPECT_EQ(r.messages.take(), Strings{"sonrigo_probe_absurd_outputs.so will not make a sound: it claims 2 audio inputs "
                                       "and 100000000 audio outputs, more than any instrument has."});
    r.rack.loadPlugin(3, SONRIGO_PROBE_CRASH_IN_PROCESS_PATH);
    EXPECT_EQ(r.rack.plugin(3), nullptr);
    EXPECT_EQ(CurrentPluginProbe()->trials(), 4);
    InstallPluginProbe(previous);
}

// One that passed its trial and then never comes back from its processing
// costs its channel: the thread is left inside it, a new one renders on.
TEST(VstRack, APluginStuckInItsProcessingIsGivenUpAndTheOthersPlayOn)
{
    using namespace std::chrono_literals;
    RackOnManualDevice r(RackSetup{.stuckCallLimit = 1000ms});
    r.load(0, SONRIGO_PROBE_PATH);
    r.load(1, SONRIGO_PROBE_HANG_IN_PROCESS_PATH);
    ASSERT_TRUE(r.rack.start());
    const auto until = [&](const std::function<bool()>& done) {
        for (auto limit = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < limit;) {
            r.service->stream->advance(441);
            r.events.dispatch(r.rack);
            if (done())
                return true;
            r.events.waitFor(10ms);
        }
        return false;
    };
    Strings said;
    ASSERT_TRUE(until([&] { return !(said = r.messages.take()).empty(); }));
    EXPECT_EQ(said, Strings{"sonrigo_probe_hang_in_process.so on channel 2 did not come back from its audio "
                            "processing for 1 s. It is left behind, and the channel is silent until an "
                            "instrument is loaded into it again."});
    const std::size_t before = r.log.linesStartingWith("process ").size();
    EXPECT_TRUE(until([&] { return r.log.linesStartingWith("process ").size() > before + 10; }));
    r.rack.stop();
    EXPECT_EQ(r.rack.plugin(1), nullptr);
    EXPECT_EQ(r.rack.pluginCount(), 2);
    r.rack.removeAllPlugins();
    EXPECT_EQ(r.rack.pluginCount(), 0);
}

// The render thread must not show a lost device (a box would stop the
// audio): the window does, on the owner's thread, once.
TEST(VstRack, AStalledRenderThreadRendersOneBlockAndJumpsAheadAndALostDeviceIsToldOnceByTheOwner)
{
    RackOnManualDevice r;
    r.openRing();
    r.load(0, SONRIGO_PROBE_PATH);
    r.rack.renderPass();
    r.pass(441);
    r.advance(4000);
    r.rack.queueMidi(0x90, 60, 100);  // stamped 4000 frames into a block of 882
    r.pass(410);                      // 100 ms late in all
    EXPECT_EQ(r.rack.renderPosition().absolute(), r.rack.waveOut().position() + 2646);
    EXPECT_EQ(r.log.linesStartingWith("process ").back(), "process inputs outputs 882");
    EXPECT_EQ(r.log.linesStartingWith("event "), Strings{"event 1 881 90 3c 64"});  // kept in the block

    r.service->lost = true;
    for (const Strings& told : {Strings{"再生デバイスとの接続が失われました。"}, Strings{}}) {
        r.pass(441);
        EXPECT_TRUE(r.messages.take().empty());
        r.events.dispatch(r.rack);
        EXPECT_EQ(r.messages.take(), told);
    }
}

// The window's thread may be busy (a message box, a file dialog) and dispatch
// nothing: the started ring goes on circulating on the device's own thread.
// What is wrong with the device is said once a process.
TEST(VstRack, StartAndStopFollowTheRunningStateTheRingPlaysOnWithoutTheOwnersThreadAndStartSaysOnceWhatIsWrong)
{
    RackOnManualDevice r;
    WaveOutDevice::RearmReports();
    r.service->failures.open = true;
    EXPECT_FALSE(r.rack.start());
    EXPECT_FALSE(r.rack.running());
    EXPECT_EQ(r.messages.take(), Strings{"再生デバイスのオープンに失敗しました。"});

    r.service->failures.open = false;
    ASSERT_TRUE(r.rack.start());
    EXPECT_TRUE(r.rack.start());  // running: nothing happens
    EXPECT_EQ(r.service->opens, 2);
    const std::size_t threeSeconds = 3 * 44100;
    r.advance(threeSeconds);  // all played: the ring went round twice
    // The owner's late answer finds the buffer queued again: it does nothing and says nothing.
    int writes = r.service->writes;
    r.rack.onBufferDone(r.rack.waveOut().pool().header(0));
    EXPECT_EQ(r.service->writes, writes);
    EXPECT_EQ(r.service->stream->queue().queuedFrames(), 4 * 16384 - threeSeconds % 16384);
    r.rack.stop();
    // stop's reset returned the buffers; handed over now, they stay put.
    writes = r.service->writes;
    r.events.dispatch(r.rack);
    EXPECT_EQ(r.service->writes, writes);
    EXPECT_TRUE(r.messages.take().empty());

    const auto startAndStop = [](VstRack& rack) {
        EXPECT_TRUE(rack.start());
        EXPECT_TRUE(rack.running());
        rack.stop();
    };
    for (int i = 0; i < 2; ++i) {
        VstRack standIn(NullWaveOutService::StandInForMissingDevice(), nullptr);
        startAndStop(standIn);
    }
    VstRack silentOnPurpose(std::make_shared<NullWaveOutService>(), nullptr);
    startAndStop(silentOnPurpose);
    EXPECT_EQ(r.messages.take(), Strings{"再生デバイスのオープンに失敗しました。"});

    r.service->period = 2205;  // the 60 ms lead less the 10 ms a pass may be behind
    startAndStop(r.rack);
    EXPECT_TRUE(r.messages.take().empty());
    r.service->period = 4096;
    startAndStop(r.rack);
    startAndStop(r.rack);
    EXPECT_EQ(r.messages.take(), Strings{"再生デバイスの周期 4096 フレームが長すぎます。音声は 10 ミリ秒ごとに再生位置の 2646 "
                                       "フレーム先まで書き込まれるので、周期は 2205 フレーム以下でなければなりません。このま"
                                       "までは周期ごとに、まだ書き込まれていない部分で約 1.5 秒前の音が鳴ります。"});
}

// The channel router in front of the rack.
MidiEvent Record(std::int32_t kind, std::int32_t channel, std::int32_t data1, std::int32_t velocity = 100)
{
    MidiEvent record;
    record.kind = kind;
    record.channel = channel;
    record.data1 = data1;
    record.velocity = velocity;
    record.subtype = data1;  // a controller's number
    record.value = velocity;
    return record;
}

TEST(ChannelRouter, LetsGoOfItsInstrumentsNotesWhenAChannelLeavesOrPlaybackEnds)
{
    RackOnManualDevice r;
    r.rack.loadPlugin(0, SONRIGO_PROBE_PATH);
    r.rack.loadPlugin(1, SONRIGO_PROBE_PATH);
    r.openRing();
    ChannelRouter router(r.rack);
    router.setRouted(0, true);
    router.setRouted(1, true);
    for (MidiEvent record : {Record(EventKind::NoteOn, 0, 60), Record(EventKind::NoteOn, 0, 64),
                             Record(EventKind::NoteOn, 0, 64, 0), Record(EventKind::ControlChange, 0, 64, 127),
                             Record(EventKind::NoteOn, 1, 50), Record(EventKind::NoteOn, 1, 127),
                             Record(EventKind::NoteOff, 1, 127)}) {
        const std::int32_t kind = record.kind;
        router.onEvent(0, 0, &record);
        // A controller also goes on to the MIDI output.
        EXPECT_EQ(record.kind, kind == EventKind::ControlChange ? kind : EventKind::Removed);
    }
    r.rack.renderPass();
    // The events a step gives the instruments, in the next pass.
    std::size_t played = r.log.linesStartingWith("event ").size();
    const auto released = [&] {
        r.pass(441);
        const Strings events = r.log.linesStartingWith("event ");
        return Strings(events.begin() + static_cast<std::ptrdiff_t>(std::exchange(played, events.size())), events.end());
    };
    router.setRouted(0, false);  // the pedal is down: it goes up too
    EXPECT_EQ(released(), (Strings{"event 1 0 80 3c 00", "event 1 0 b0 40 00", "event 1 0 b0 7b 00"}));
    router.releaseNotes();
    EXPECT_EQ(released(), (Strings{"event 1 0 81 32 00", "event 1 0 b1 40 00", "event 1 0 b1 7b 00"}));
    router.releaseNotes();  // nothing new sounded since: nothing more
    EXPECT_EQ(released(), Strings{});
}

}  // namespace
}  // namespace sonrigo
