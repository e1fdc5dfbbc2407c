// The wave output's parts: the queue every stream plays from, the clock of a
// device that plays on a thread of its own, the silent device and the RtAudio
// device where there is none.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/NullWaveOutService.h"
#include "platform/RtAudioWaveOutService.h"
#include "platform/WavePlayQueue.h"
#include "platform/WaveStreamClock.h"
#include "support/DoneRecorder.h"
#include "support/ScopedEnv.h"

namespace sonrigo {
namespace {

using namespace std::chrono_literals;
using test::DoneRecorder;
using Buffer = test::WaveBuffer;

bool Has(const WaveHeader& header, std::uint32_t flag)
{
    return (header.flags.load() & flag) != 0;
}

class WavePlayQueueTest : public testing::Test {
protected:
    bool queue(Buffer& buffer) { return queue_.prepare(buffer.header) && queue_.write(buffer.header); }

    DoneRecorder window_;
    WavePlayQueue queue_{WaveFormat{}, &window_};
};

TEST_F(WavePlayQueueTest, PlaysBuffersInOrderAcrossCallsAndReturnsEachOnceWhenPlayedUnlessPaused)
{
    Buffer a(5, 100), b(4, 200);
    ASSERT_TRUE(queue(a) && queue(b));
    EXPECT_EQ(queue_.queuedFrames(), 9U);

    std::array<std::int16_t, 12> out{};
    out.fill(-1);
    queue_.pause();
    EXPECT_EQ(queue_.play(out.data(), 3), 0U);
    EXPECT_EQ(queue_.position(), 0U);
    queue_.restart();
    EXPECT_EQ(queue_.play(out.data(), 3), 3U);
    EXPECT_TRUE(window_.take().empty()) << "a is not played to its end yet";
    EXPECT_EQ(queue_.play(out.data() + 3, 4), 4U) << "the rest of a, then the start of b";
    EXPECT_EQ(window_.take(), std::vector<WaveHeader*>{&a.header});
    EXPECT_TRUE(Has(a.header, WaveHeader::kDone));
    EXPECT_FALSE(Has(b.header, WaveHeader::kDone));

    EXPECT_EQ(queue_.play(out.data() + 7, 5), 2U) << "the queue runs dry";
    EXPECT_EQ(window_.take(), std::vector<WaveHeader*>{&b.header});
    const std::array<std::int16_t, 12> expected = {100, 101, 102, 103, 104, 200, 201, 202, 203, -1, -1, -1};
    EXPECT_EQ(out, expected) << "what was not played is left as it was";
    EXPECT_EQ(queue_.position(), 9U);
    EXPECT_EQ(queue_.queuedFrames(), 0U);

    // A returned buffer queued again plays again from its start, with the done flag cleared.
    ASSERT_TRUE(queue_.write(a.header));
    EXPECT_FALSE(Has(a.header, WaveHeader::kDone));
    EXPECT_EQ(queue_.play(nullptr, 10), 5U);
    EXPECT_EQ(queue_.position(), 14U);
}

TEST_F(WavePlayQueueTest, ResetReturnsEveryQueuedBufferDoneInOrderAndZeroesThePositionDetachedOrNot)
{
    Buffer a(4, 1), b(4, 10), c(4, 20);
    ASSERT_TRUE(queue(a) && queue(b) && queue(c));
    queue_.play(nullptr, 6);
    window_.take();

    queue_.reset();
    EXPECT_EQ(window_.take(), (std::vector<WaveHeader*>{&b.header, &c.header}));
    EXPECT_TRUE(Has(b.header, WaveHeader::kDone) && Has(c.header, WaveHeader::kDone));
    EXPECT_EQ(queue_.position(), 0U);
    EXPECT_EQ(queue_.queuedFrames(), 0U);

    // Nothing of b's read offset survives: b plays again from its first sample.
    ASSERT_TRUE(queue_.write(b.header));
    ASSERT_TRUE(queue_.write(c.header));
    std::array<std::int16_t, 1> out{};
    EXPECT_EQ(queue_.play(out.data(), 1), 1U);
    EXPECT_EQ(out[0], 10);

    // Detached, it still plays and resets but notifies nobody.
    queue_.detach();
    EXPECT_EQ(queue_.play(nullptr, 3), 3U);
    queue_.reset();
    EXPECT_TRUE(window_.take().empty());
    EXPECT_TRUE(Has(b.header, WaveHeader::kDone));
    EXPECT_TRUE(Has(c.header, WaveHeader::kDone));
}

constexpr std::uint32_t kRate = 44100;
constexpr std::int64_t kLostAfterUs = 2'000'000;

TEST(WaveStreamClock, MovesWithTimeWithinAPeriodAndDropsAPeriodBegunBeforeAReset)
{
    WaveStreamClock clock(kRate, kLostAfterUs, 0);
    EXPECT_EQ(clock.position(500'000), 0u) << "no period yet";
    clock.played(clock.resets(), 0, 441, 10'000);
    EXPECT_EQ(clock.position(10'000), 0u);
    EXPECT_EQ(clock.position(15'000), 220u);
    EXPECT_EQ(clock.position(40'000), 441u) << "never past the frames taken";

    const std::uint64_t begun = clock.resets();
    clock.reset(41'000);
    clock.played(begun, 441, 441, 42'000);
    EXPECT_EQ(clock.position(50'000), 0u);
    clock.played(clock.resets(), 0, 441, 60'000);
    EXPECT_EQ(clock.position(70'000), 441u);
    EXPECT_FALSE(clock.lost(70'000));
}

TEST(WaveStreamClock, ADeviceWhosePeriodsStopRaceOrFailIsLostAndTheTimeGoesOn)
{
    WaveStreamClock stopped(kRate, kLostAfterUs, 0);
    stopped.played(stopped.resets(), 0, 8192, 100'000);  // JACK's longest period
    const std::int64_t silentUntil = 100'000 + kLostAfterUs;
    EXPECT_FALSE(stopped.lost(silentUntil));
    EXPECT_EQ(stopped.position(silentUntil), 8192u);
    EXPECT_TRUE(stopped.lost(silentUntil + 1));
    EXPECT_EQ(stopped.position(silentUntil + 1'000'000), 8192u + kRate) << "from where it stood, in real time";
    stopped.played(stopped.resets(), 8192, 8192, silentUntil + 1'000'000);
    stopped.reset(silentUntil + 1'000'000);
    EXPECT_TRUE(stopped.lost(silentUntil + 1'000'000)) << "for good";
    EXPECT_EQ(stopped.position(silentUntil + 2'000'000), 8192u + 2 * kRate) << "late periods are ignored";

    // A device that fails every write at once calls back in a loop.
    WaveStreamClock racing(kRate, kLostAfterUs, 0);
    for (std::uint32_t i = 0; i < 200 && !racing.lost(1'000); ++i)
        racing.played(racing.resets(), i * 1024, 1024, 1'000);
    EXPECT_TRUE(racing.lost(1'000));
    EXPECT_LE(racing.position(1'000), 3 * kRate);

    WaveStreamClock failed(kRate, kLostAfterUs, 0);
    failed.played(failed.resets(), 0, 441, 10'000);
    failed.fail(12'000);
    EXPECT_TRUE(failed.lost(12'000));
    EXPECT_EQ(failed.position(1'012'000), 88u + kRate);
}

// The silent device plays on its own clock thread. This test asserts order and
// "never faster than real time" only, and waits with a patience that only a
// hung stream uses up.
TEST(NullWaveOutService, PlaysEveryDeviceIdInRealTimeReturningBuffersInOrderUntilClosed)
{
    NullWaveOutService service;
    const WaveFormat mono;
    EXPECT_TRUE(service.query(-1, mono));
    EXPECT_TRUE(service.query(7, mono));

    // 50 ms each at 44100 Hz; declared before the stream, so that they outlive it.
    Buffer a(2205), b(2205), c(2205);
    auto window = std::make_unique<DoneRecorder>();
    const auto before = std::chrono::steady_clock::now();
    const std::unique_ptr<WaveOutStream> stream = service.open(7, mono, window.get());
    ASSERT_NE(stream, nullptr);
    for (Buffer* buffer : {&a, &b, &c}) {
        ASSERT_TRUE(stream->prepare(buffer->header));
        ASSERT_TRUE(stream->write(buffer->header));
    }

    std::uint32_t last = 0;
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (window->received().size() < 3 && std::chrono::steady_clock::now() < limit) {
        const std::uint32_t now = stream->position();
        EXPECT_GE(now, last) << "the position went back";
        last = now;
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(window->received().size(), 3U);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 150ms) << "played faster than real time";
    EXPECT_EQ(window->received(), (std::vector<WaveHeader*>{&a.header, &b.header, &c.header}));
    EXPECT_EQ(stream->position(), 3U * 2205U);

    // Closed with a buffer just queued, the clock is joined: nothing comes
    // back afterwards. A clock thread still running would touch the freed
    // window (the sanitizer builds report it).
    ASSERT_TRUE(stream->write(a.header));
    EXPECT_TRUE(stream->close());
    EXPECT_FALSE(stream->close()) << "already closed";
    const std::size_t atClose = window->received().size();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(window->received().size(), atClose);
    window.reset();
    std::this_thread::sleep_for(20ms);
}

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
