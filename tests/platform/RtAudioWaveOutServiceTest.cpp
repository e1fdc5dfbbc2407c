#include "platform/RtAudioWaveOutService.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/ScopedEnv.h"

namespace sonrigo {
namespace {

// Without a JACK server under that name, a PulseAudio server or a sound card,
// RtAudio, libjack and alsa-lib would each print their failures; none may
// reach the terminal, every device must be refused, and the process plays
// into nothing in place of the missing device. The playing path is
// tested against a real JACK server in JackWaveOutTest.
TEST(RtAudioWaveOutService, WithoutAnyDeviceEverythingFailsSilently)
{
    const test::ScopedEnv noServer("JACK_DEFAULT_SERVER", "sonrigo-no-such-server");
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const bool available = RtAudioWaveOutService::CreateIfAvailable() != nullptr;
    RtAudioWaveOutService service;
    const WaveFormat mono;
    const bool queried = service.query(-1, mono) || service.query(0, mono);
    const bool opened = service.open(-1, mono, nullptr) != nullptr || service.open(0, mono, nullptr) != nullptr;
    // What the process installs when nothing was installed before.
    const std::shared_ptr<WaveOutService> previous = CurrentWaveOutService();
    InstallWaveOutService(nullptr);
    const bool standIn = CurrentWaveOutService()->standsInForMissingDevice();
    InstallWaveOutService(previous);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(err, "");
    EXPECT_EQ(out, "");
    if (available)
        GTEST_SKIP() << "this machine has an audio device: " << service.name();
    EXPECT_EQ(service.name(), "no audio device");
    EXPECT_FALSE(queried);
    EXPECT_FALSE(opened);
    EXPECT_TRUE(standIn) << "the silent device, standing in for the missing one";
}

}  // namespace
}  // namespace sonrigo
