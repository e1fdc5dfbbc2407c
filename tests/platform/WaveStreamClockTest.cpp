#include "platform/WaveStreamClock.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace sonrigo {
namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::int64_t kLostAfterUs = 2'000'000;
constexpr std::uint32_t kSecond = 44100;

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
    EXPECT_EQ(stopped.position(silentUntil + 1'000'000), 8192u + kSecond) << "from where it stood, in real time";
    stopped.played(stopped.resets(), 8192, 8192, silentUntil + 1'000'000);
    stopped.reset(silentUntil + 1'000'000);
    EXPECT_TRUE(stopped.lost(silentUntil + 1'000'000)) << "for good";
    EXPECT_EQ(stopped.position(silentUntil + 2'000'000), 8192u + 2 * kSecond) << "late periods are ignored";

    // A device that fails every write at once calls back in a loop.
    WaveStreamClock racing(kRate, kLostAfterUs, 0);
    for (std::uint32_t i = 0; i < 200 && !racing.lost(1'000); ++i)
        racing.played(racing.resets(), i * 1024, 1024, 1'000);
    EXPECT_TRUE(racing.lost(1'000));
    EXPECT_LE(racing.position(1'000), 3 * kSecond);

    WaveStreamClock failed(kRate, kLostAfterUs, 0);
    failed.played(failed.resets(), 0, 441, 10'000);
    failed.fail(12'000);
    EXPECT_TRUE(failed.lost(12'000));
    EXPECT_EQ(failed.position(1'012'000), 88u + kSecond);
}

}  // namespace
}  // namespace sonrigo
