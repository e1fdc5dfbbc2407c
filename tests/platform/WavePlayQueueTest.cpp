#include "platform/WavePlayQueue.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "support/DoneRecorder.h"

namespace sonrigo {
namespace {

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
    Buffer a(5, 100);
    Buffer b(4, 200);
    ASSERT_TRUE(queue(a));
    ASSERT_TRUE(queue(b));
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
    Buffer a(4, 1);
    Buffer b(4, 10);
    Buffer c(4, 20);
    ASSERT_TRUE(queue(a));
    ASSERT_TRUE(queue(b));
    ASSERT_TRUE(queue(c));
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

}  // namespace
}  // namespace sonrigo
