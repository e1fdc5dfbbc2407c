#include "vsthost/WaveOutDevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "common/ScopedMessageCapture.h"
#include "support/DoneRecorder.h"
#include "support/ManualWaveOut.h"
#include "vsthost/RingPosition.h"

namespace sonrigo {
namespace {

using Strings = std::vector<std::string>;
constexpr std::int32_t kBytes = 32768;
constexpr std::int32_t kCount = 4;
constexpr std::uint32_t kPerBuffer = 16384;

std::int16_t SampleAt(const WaveOutDevice& device, std::int32_t buffer, std::uint32_t frame)
{
    std::int16_t sample = 0;
    std::memcpy(&sample, device.pool().buffer(buffer) + frame * 2, sizeof sample);
    return sample;
}

// The render pass measures from its ring position to the device's and writes
// from there, always inside the ring, and at most a block: the writer's clamps
// of its start and length have no caller.
TEST(WaveOutDevice, TheRingIsMeasuredForwardAndWrittenAroundItsEnd)
{
    const WaveFormat format;
    RingPosition from(kBytes, kCount, &format);
    RingPosition to(kBytes, kCount, &format);
    from.set(kPerBuffer * 5 + 100);  // wraps to buffer 1
    to.set(kPerBuffer * 5 + 50);
    EXPECT_EQ(from.distanceTo(to), -50);  // same buffer, behind
    to.set(kPerBuffer * 7 + 10);          // buffer 3
    EXPECT_EQ(from.distanceTo(to), static_cast<std::int32_t>(2 * kPerBuffer - 90));
    to.set(kPerBuffer * 8 + 10);  // buffer 0: forward through the wrap
    EXPECT_EQ(from.distanceTo(to), static_cast<std::int32_t>(3 * kPerBuffer - 90));

    WaveOutDevice device(std::make_shared<test::ManualWaveOutService>(), -1, &format, kBytes, kCount);
    std::vector<std::int16_t> samples(882);
    std::iota(samples.begin(), samples.end(), 1);
    device.writeRing(3, 16000, samples.data(), 882);
    EXPECT_EQ(SampleAt(device, 3, 16000), 1);
    EXPECT_EQ(SampleAt(device, 3, kPerBuffer - 1), 384);
    EXPECT_EQ(SampleAt(device, 0, 0), 385);
    EXPECT_EQ(SampleAt(device, 0, 497), 882);
    EXPECT_EQ(SampleAt(device, 0, 498), 0);
}

TEST(WaveOutDevice, OpenCloseAndQueueingShowTheirMessages)
{
    auto service = std::make_shared<test::ManualWaveOutService>();
    const WaveFormat format;
    ScopedMessageCapture messages;
    test::DoneRecorder window;
    WaveOutDevice device(service, -1, &format, kBytes, kCount);

    EXPECT_TRUE(device.close());  // closed: nothing to say
    ASSERT_TRUE(device.open(&window));
    EXPECT_FALSE(device.open(&window));
    EXPECT_TRUE(device.isOpen());
    EXPECT_EQ(messages.take(), Strings{"再生デバイスはオープン済みです。"});

    ASSERT_TRUE(device.startQueue());
    WaveHeader* first = device.pool().header(0);
    EXPECT_EQ(service->stream->advance(100), 0u);  // paused
    device.restart();
    EXPECT_EQ(service->stream->advance(kPerBuffer + 10), kPerBuffer + 10);
    ASSERT_EQ(window.done, std::vector<WaveHeader*>{first});
    EXPECT_TRUE(device.requeue(first));
    EXPECT_EQ(service->stream->queue().queuedFrames(), 4 * kPerBuffer - 10);
    device.reset();
    EXPECT_TRUE(device.close());
    EXPECT_EQ(device.position(), 0u);

    // What a real device may refuse. (Its queue never refuses a buffer: the
    // preparation and queueing failures cannot happen with four buffers.)
    service->failures.query = true;
    EXPECT_FALSE(device.query());
    service->failures = {};
    ASSERT_TRUE(device.open(&window));
    service->failures.close = true;
    EXPECT_FALSE(device.close());
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(messages.take(), (Strings{"サポートされていないフォーマットです。", "再生デバイスのクローズに失敗しました。"}));
}

}  // namespace
}  // namespace sonrigo
