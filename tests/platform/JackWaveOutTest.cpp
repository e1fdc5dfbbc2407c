// The real audio path: RtAudioWaveOutService into a JACK server started for
// the test (dummy driver, no sound card), recorded by a JACK client.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/RtAudioWaveOutService.h"
#include "playback/PlaybackFixture.h"
#include "support/DoneRecorder.h"
#include "support/JackTestServer.h"

// A port's audio lives in JACK's shared memory: RtAudio's JACK callback copies
// our frames there with memcpy, and the capture reads them later in the same
// cycle, ordered by libjack's futexes. Neither library is instrumented, so
// ThreadSanitizer sees only that memcpy and reports it. Its accesses are
// ignored for the memory functions librtaudio calls itself; the callback into
// our code is still checked. RtAudio closes a stream whose JACK server went
// away on a thread it never joins: that thread's leak is RtAudio's.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:librtaudio.so\nthread:librtaudio.so\n";
}

namespace sonrigo {
namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 20s;  // only a hung stream uses it up
constexpr std::size_t kBufferBytes = 32768;
constexpr std::size_t kBufferFrames = kBufferBytes / sizeof(std::int16_t);
constexpr std::size_t kBuffers = 4;
// A marker in buffer 0 and the click in buffer 1, both the same short shape.
// The marker is not at the very start, so that it cannot fall into a cycle
// before the capture's connection took effect.
constexpr std::size_t kMarkerFrame = 1000;
constexpr std::size_t kClickFrame = kBufferFrames + 5000;
constexpr std::array<std::int16_t, 4> kClick = {16384, -16384, 8192, -8192};
// A minute of recording: the sanitizer builds take a while between the
// capture's start and the click.
constexpr std::size_t kCaptureFrames = 60 * test::JackTestServer::kSampleRate;

using test::DoneRecorder;

// The indices of the recorded frames that are not silent.
std::vector<std::size_t> Sounding(const test::JackAudioCapture& capture)
{
    std::vector<std::size_t> indices;
    const std::size_t frames = capture.frames();
    for (std::size_t i = 0; i < frames; ++i)
        if (std::fabs(capture.samples()[i]) > 0.01F)
            indices.push_back(i);
    return indices;
}

TEST(JackWaveOut, BuffersPlayThroughJackInOrderAndTheClickArrivesWhereWritten)
{
    test::JackTestServer jack("sonrigo-audio-capture", kCaptureFrames);
    if (!jack.up())
        GTEST_SKIP() << jack.skipReason();
    test::JackAudioCapture* capture = &jack.capture();

    // Declared before the stream, so that they outlive it when an assertion returns early.
    const WaveFormat mono;
    DoneRecorder window;
    std::vector<std::vector<std::int16_t>> data(kBuffers, std::vector<std::int16_t>(kBufferFrames, 0));
    std::array<WaveHeader, kBuffers> headers;
    std::copy(kClick.begin(), kClick.end(), data[0].begin() + kMarkerFrame);
    std::copy(kClick.begin(), kClick.end(), data[1].begin() + (kClickFrame - kBufferFrames));
    testing::internal::CaptureStderr();
    const std::shared_ptr<WaveOutService> service = RtAudioWaveOutService::CreateIfAvailable();
    const bool queried = service && service->query(-1, mono);
    std::unique_ptr<WaveOutStream> stream = service ? service->open(-1, mono, &window) : nullptr;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->name(), "JACK: system") << "JACK comes before PulseAudio and ALSA";
    EXPECT_TRUE(queried);
    ASSERT_NE(stream, nullptr);

    ASSERT_TRUE(capture->connectFrom("Sonrigo"));
    ASSERT_TRUE(capture->waitUntilConnected(3000ms));

    for (std::size_t i = 0; i < kBuffers; ++i) {
        headers[i].data = reinterpret_cast<char*>(data[i].data());
        headers[i].bufferLength = kBufferBytes;
        ASSERT_TRUE(stream->prepare(headers[i]));
        ASSERT_TRUE(stream->write(headers[i]));
    }

    // Watches the position while the buffers play: it must never go back.
    bool wentBack = false;
    std::uint32_t last = 0;
    const auto limit = std::chrono::steady_clock::now() + kPatience;
    while (window.received().size() < kBuffers && std::chrono::steady_clock::now() < limit) {
        const std::uint32_t position = stream->position();
        wentBack = wentBack || position < last;
        last = position;
        std::this_thread::sleep_for(1ms);
    }
    const std::uint32_t total = kBuffers * kBufferFrames;
    EXPECT_TRUE(test::WaitInRealTime([&] { return stream->position() == total; })) << stream->position();
    EXPECT_TRUE(test::WaitInRealTime([&] { return Sounding(*capture).size() >= 2 * kClick.size(); }));
    EXPECT_TRUE(stream->close());

    EXPECT_FALSE(wentBack);
    // Returned in order (their flags are the queue's, checked on its own).
    EXPECT_EQ(window.received(), (std::vector<WaveHeader*>{&headers[0], &headers[1], &headers[2], &headers[3]}));

    // The marker and the click, each whole, as far apart as they were written:
    // no frame between them was lost or repeated.
    EXPECT_FALSE(capture->overflowed());
    const std::vector<std::size_t> sounding = Sounding(*capture);
    ASSERT_EQ(sounding.size(), 2 * kClick.size());
    const std::size_t marker = sounding.front();
    const std::size_t click = sounding[kClick.size()];
    EXPECT_EQ(click - marker, kClickFrame - kMarkerFrame);
    for (std::size_t i = 0; i < kClick.size(); ++i) {
        EXPECT_EQ(sounding[i], marker + i);
        EXPECT_EQ(sounding[kClick.size() + i], click + i);
        EXPECT_NEAR(capture->samples()[marker + i], kClick[i] / 32768.0F, 1e-3F);
        EXPECT_NEAR(capture->samples()[click + i], kClick[i] / 32768.0F, 1e-3F);
    }
}

}  // namespace
}  // namespace sonrigo
