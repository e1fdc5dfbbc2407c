#include "vsthost/VstRack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/NullWaveOutService.h"
#include "support/CaptureMessages.h"
#include "support/ManualWaveOut.h"
#include "vsthost/ProbeLog.h"
#include "vsthost/RackEventQueue.h"
#include "vsthost/VstPlugin.h"

namespace sonrigo {
namespace {

using Strings = std::vector<std::string>;
using test::ProbeLog;

// The player's rack on a device that plays only when the test advances it.
struct RackOnManualDevice {
    RackOnManualDevice() : service(std::make_shared<test::ManualWaveOutService>()), rack(service, &events, -1, 32768, 4, 50, 10) {}

    // Opens the ring as start does, without the render thread: the test runs the passes.
    void openRing()
    {
        ASSERT_TRUE(rack.waveOut().open(&events));
        ASSERT_TRUE(rack.waveOut().startQueue());
        rack.waveOut().restart();
    }
    void advance(std::size_t frames) { ASSERT_EQ(service->stream->advance(frames), frames); }
    void load(std::int32_t slot, const char* path)
    {
        rack.loadPlugin(slot, path);
        rack.resumePlugin(slot);
    }
    // Sets the probe's output channel levels (probe_levels: (parameter - 0.5) * 4).
    void setLevels(std::int32_t slot, float left, float right)
    {
        rack.setParameter(slot, 0, left / 4 + 0.5f);
        rack.setParameter(slot, 1, right / 4 + 0.5f);
    }

    std::shared_ptr<test::ManualWaveOutService> service;
    RackEventQueue events;
    VstRack rack;
};

TEST(VstRack, DerivesLatencyAndBlockFromLeadAndPeriod)
{
    auto service = std::make_shared<test::ManualWaveOutService>();
    VstRack player(service, nullptr, -1, 32768, 4, 50, 10);
    EXPECT_EQ(player.latencyFrames(), 2646);
    EXPECT_EQ(player.blockSize(), 882);
    EXPECT_EQ(player.mixBuffer().size(), 882u);
    VstRack other(service, nullptr, -1, 32768, 4, 100, 20);
    EXPECT_EQ(other.latencyFrames(), 5292);
    EXPECT_EQ(other.blockSize(), 1764);
}

TEST(VstRack, SlotsLoadReplaceAndRemoveAsTheyShould)
{
    ProbeLog log;
    test::CaptureMessages messages;
    RackOnManualDevice r;
    r.rack.loadPlugin(16, SONRIGO_PROBE_PATH);
    EXPECT_EQ(messages.take(), Strings{"MIDIチャンネルの指定が正しくありません。"});

    r.load(2, SONRIGO_PROBE_PATH);
    r.load(5, SONRIGO_PROBE_PATH);
    EXPECT_EQ(r.rack.pluginCount(), 2);
    EXPECT_EQ(r.rack.eventCapacity(), 32);
    EXPECT_EQ(r.rack.programCount(5), 3);
    EXPECT_EQ(r.rack.programName(9), "");
    EXPECT_EQ(r.rack.programName(16), "");
    EXPECT_EQ(r.rack.getProgram(16), 0);
    EXPECT_EQ(r.rack.paramName(-1, 0), "");

    // A failed load into an occupied slot closes the old plug-in and leaves the slot empty.
    const auto before = log.opcodes();
    const auto closesBefore = std::count(before.begin(), before.end(), 1);
    r.rack.loadPlugin(5, SONRIGO_PROBE_NO_ENTRY_PATH);
    const auto opcodes = log.opcodes();
    EXPECT_EQ(std::count(opcodes.begin(), opcodes.end(), 1), closesBefore + 1);  // effClose
    EXPECT_EQ(r.rack.plugin(5), nullptr);
    EXPECT_EQ(r.rack.pluginCount(), 1);
    EXPECT_FALSE(messages.take().empty());

    r.rack.removePlugin(2);
    EXPECT_EQ(r.rack.pluginCount(), 0);
    EXPECT_EQ(r.rack.eventCapacity(), 32);  // until the next successful load
    r.rack.queueMidi(0x92, 60, 100);
    EXPECT_EQ(r.rack.eventCount(), 1);

    // An editor-less plug-in: openEditor returns at once.
    r.load(1, SONRIGO_PROBE_NO_EDITOR_PATH);
    EXPECT_EQ(r.rack.eventCount(), 0);  // a load drops what was queued
    r.rack.openEditor(1);
    r.rack.removeAllPlugins();
    EXPECT_EQ(r.rack.pluginCount(), 0);
}

TEST(VstRack, QueuedEventsReachTheirChannelsPluginStampedWithTheFramesPlayed)
{
    ProbeLog log;
    RackOnManualDevice r;
    r.openRing();
    r.load(3, SONRIGO_PROBE_PATH);
    r.load(4, SONRIGO_PROBE_PATH);
    r.rack.renderPass();  // renders 882 frames; the next pass starts at 2646
    r.advance(220);
    r.rack.queueMidi(0x93, 60, 100);
    r.rack.queueMidi(0x95, 61, 100);  // slot 5 is empty: dropped, but it takes an entry
    r.advance(10);
    r.rack.queueMidi(0x83, 60, 0);
    for (int i = 3; i < 32; ++i)
        r.rack.queueMidi(0xB4, 7, static_cast<std::uint8_t>(i));  // the thirty-third is dropped
    EXPECT_EQ(r.rack.eventCount(), 32);
    r.advance(1);  // the pass's block then reaches past the last stamp
    r.rack.renderPass();
    EXPECT_EQ(r.rack.eventCount(), 0);

    const Strings events = log.linesStartingWith("event ");
    ASSERT_EQ(events.size(), 2u + 16u);  // slot 4 keeps its first sixteen
    EXPECT_EQ(events[0], "event 1 220 93 3c 64");
    EXPECT_EQ(events[1], "event 1 230 83 3c 00");
    EXPECT_EQ(events[2], "event 1 230 b4 07 03");
    EXPECT_EQ(events.back(), "event 1 230 b4 07 12");
}

TEST(VstRack, APassAveragesEachPluginsChannelsSumsThePluginsAndTruncates)
{
    ProbeLog log;
    RackOnManualDevice r;
    r.openRing();
    r.rack.renderPass();  // nothing loaded: silence, still a level message
    EXPECT_EQ(r.rack.level(), VstRack::kSilenceLevel);
    EXPECT_TRUE(std::all_of(r.rack.mixBuffer().begin(), r.rack.mixBuffer().end(), [](std::int16_t s) { return s == 0; }));
    r.events.dispatch(r.rack);
    EXPECT_EQ(r.events.levelCount(), 1u);
    EXPECT_EQ(r.events.level(), VstRack::kSilenceLevel);

    r.load(0, SONRIGO_PROBE_LEVELS_PATH);
    r.load(1, SONRIGO_PROBE_LEVELS_PATH);
    struct Case {
        float a0, a1, b0, b1;
        std::int16_t sample;
        double level;
    };
    const Case cases[] = {
        {0.5f, -0.5f, 0.0f, 0.0f, 0, VstRack::kSilenceLevel},  // a plug-in's channels cancel
        {0.5f, 0.5f, 0.0f, 0.0f, 16383, 20 * std::log10(0.5)},
        {0.8f, 0.8f, 0.8f, 0.8f, 32767, 20 * std::log10(1.6)},  // peak before the clip
        {-0.75f, -0.75f, -0.75f, -0.75f, -32767, 20 * std::log10(1.5)},
        {0.99999f, 0.99999f, 0.0f, 0.0f, 32766, 20 * std::log10(0.99999)},
    };
    for (const Case& c : cases) {
        r.setLevels(0, c.a0, c.a1);
        r.setLevels(1, c.b0, c.b1);
        r.advance(441);
        r.rack.renderPass();
        EXPECT_EQ(r.rack.mixBuffer()[0], c.sample) << c.a0 << " " << c.b0;
        EXPECT_EQ(r.rack.mixBuffer()[440], c.sample);
        EXPECT_NEAR(r.rack.level(), c.level, c.level == VstRack::kSilenceLevel ? 0 : 1e-4);
    }
    EXPECT_EQ(log.linesStartingWith("process ").back(), "process inputs outputs 441");
}

TEST(VstRack, AStalledRenderThreadRendersOneBlockAndJumpsAhead)
{
    ProbeLog log;
    RackOnManualDevice r;
    r.openRing();
    r.load(0, SONRIGO_PROBE_PATH);
    r.rack.renderPass();
    EXPECT_EQ(r.rack.renderPosition().absolute(), 2646u);
    r.advance(441);
    r.rack.renderPass();
    EXPECT_EQ(r.rack.renderPosition().absolute(), 441u + 2646u);
    r.advance(4000);
    r.rack.queueMidi(0x90, 60, 100);  // stamped 4000 frames into a block of 882
    r.advance(410);                   // 100 ms late in all
    r.rack.renderPass();
    EXPECT_EQ(r.rack.renderPosition().absolute(), r.rack.waveOut().position() + 2646);
    EXPECT_EQ(log.linesStartingWith("process ").back(), "process inputs outputs 882");
    EXPECT_EQ(log.linesStartingWith("event "), std::vector<std::string>{"event 1 881 90 3c 64"});  // kept in the block
}

TEST(VstRack, StartStopAndBufferDoneFollowTheRunningState)
{
    test::CaptureMessages messages;
    RackOnManualDevice r;
    r.service->failures.open = true;
    EXPECT_FALSE(r.rack.start());
    EXPECT_FALSE(r.rack.running());
    EXPECT_EQ(messages.take(), Strings{"再生デバイスのオープンに失敗しました。"});

    r.service->failures.open = false;
    ASSERT_TRUE(r.rack.start());
    EXPECT_TRUE(r.rack.start());  // running: nothing happens
    EXPECT_EQ(r.service->opens, 2);
    EXPECT_TRUE(r.rack.running());
    r.advance(16384);
    r.rack.stop();
    EXPECT_FALSE(r.rack.running());
    EXPECT_FALSE(r.rack.waveOut().isOpen());
    // stop's reset returned the buffers; handed over now, they stay put.
    const int writes = r.service->writes;
    r.events.dispatch(r.rack);
    EXPECT_EQ(r.service->writes, writes);
    EXPECT_TRUE(messages.take().empty());
}

// The window's thread is busy (a message box, a file dialog) and dispatches
// nothing: the ring goes on circulating on the device's own thread.
TEST(VstRack, TheStartedRingPlaysOnWithoutTheOwnersThread)
{
    test::CaptureMessages messages;
    RackOnManualDevice r;
    ASSERT_TRUE(r.rack.start());
    const std::size_t threeSeconds = 3 * 44100;
    r.advance(threeSeconds);
    EXPECT_EQ(r.rack.waveOut().position(), threeSeconds);
    // The owner's late answer finds the buffer queued again: it does nothing and says nothing.
    const int writes = r.service->writes;
    r.rack.onBufferDone(r.rack.waveOut().pool().header(0));
    EXPECT_EQ(r.service->writes, writes);
    EXPECT_EQ(r.service->stream->queue().queuedFrames(), 4 * 16384 - threeSeconds % 16384);
    r.rack.stop();
    EXPECT_TRUE(messages.take().empty());
}

// The render thread must not show it (a box would stop the audio): the
// window does, on the owner's thread, once.
TEST(VstRack, ALostDeviceIsToldOnceOnTheOwnersThread)
{
    test::CaptureMessages messages;
    RackOnManualDevice r;
    r.openRing();
    r.rack.renderPass();
    r.service->lost = true;
    r.advance(441);
    r.rack.renderPass();
    EXPECT_TRUE(messages.take().empty());
    r.events.dispatch(r.rack);
    EXPECT_EQ(messages.take(), Strings{"再生デバイスとの接続が失われました。"});
    r.advance(441);
    r.rack.renderPass();
    r.events.dispatch(r.rack);
    EXPECT_TRUE(messages.take().empty());
}

TEST(VstRack, StartSaysOnceAProcessThatNoDeviceOpenedOrThatTheDevicesPeriodIsTooLong)
{
    test::CaptureMessages messages;
    WaveOutDevice::RearmReports();
    const auto startAndStop = [](VstRack& rack) {
        EXPECT_TRUE(rack.start());
        EXPECT_TRUE(rack.running());
        rack.stop();
    };
    for (int i = 0; i < 2; ++i) {
        VstRack standIn(NullWaveOutService::StandInForMissingDevice(), nullptr, -1, 32768, 4, 50, 10);
        startAndStop(standIn);
    }
    VstRack silentOnPurpose(std::make_shared<NullWaveOutService>(), nullptr, -1, 32768, 4, 50, 10);
    startAndStop(silentOnPurpose);
    EXPECT_EQ(messages.take(), Strings{"再生デバイスのオープンに失敗しました。"});

    RackOnManualDevice r;
    r.service->period = 2205;  // the 60 ms lead less the 10 ms a pass may be behind
    startAndStop(r.rack);
    EXPECT_TRUE(messages.take().empty());
    r.service->period = 4096;
    startAndStop(r.rack);
    startAndStop(r.rack);
    EXPECT_EQ(messages.take(), Strings{"再生デバイスの周期 4096 フレームが長すぎます。音声は 10 ミリ秒ごとに再生位置の 2646 "
                                       "フレーム先まで書き込まれるので、周期は 2205 フレーム以下でなければなりません。このま"
                                       "までは周期ごとに、まだ書き込まれていない部分で約 1.5 秒前の音が鳴ります。"});
}

}  // namespace
}  // namespace sonrigo
