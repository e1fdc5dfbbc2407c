// The rack on RtAudio into a JACK server started for the test: the server goes
// away under it. (Notes through the rack into JACK are heard end to end in
// app.player_end_to_end; their timing is the rack's, checked on the virtual
// clock by RackEndToEndTest, and the stream's, checked by JackWaveOutTest.)

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ScopedMessageCapture.h"
#include "platform/RtAudioWaveOutService.h"
#include "support/JackTestServer.h"
#include "vsthost/RackEventQueue.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

using namespace std::chrono_literals;

// The user hears of it (once, from the owner's thread: the rack's own test),
// and the engine goes on in real time.
TEST(JackRack, AServerThatStopsIsToldOnceAndThePositionGoesOn)
{
    test::JackTestServer jack("sonrigo-rack-capture", test::JackTestServer::kSampleRate);
    if (!jack.up())
        GTEST_SKIP() << jack.skipReason();
    ScopedMessageCapture messages;
    RackEventQueue events;
    VstRack rack(RtAudioWaveOutService::CreateIfAvailable(), &events);
    ASSERT_TRUE(rack.start());
    jack.stopServer();
    std::vector<std::string> told;
    const auto limit = std::chrono::steady_clock::now() + 30s;
    while (told.empty() && std::chrono::steady_clock::now() < limit) {
        events.dispatch(rack);
        events.waitFor(10ms);
        told = messages.take();
    }
    const std::uint32_t at = rack.waveOut().position();
    for (int i = 0; i < 20; ++i) {
        events.dispatch(rack);
        events.waitFor(10ms);
    }
    EXPECT_GT(rack.waveOut().position(), at);
    EXPECT_TRUE(rack.running());
    rack.stop();
    EXPECT_EQ(told, std::vector<std::string>{"再生デバイスとの接続が失われました。"});
}

}  // namespace
}  // namespace sonrigo
