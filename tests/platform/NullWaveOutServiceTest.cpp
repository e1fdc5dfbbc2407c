#include "platform/NullWaveOutService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/DoneRecorder.h"

// The stream plays on its own clock thread. These tests assert order and
// "never faster than real time" only, and wait with a patience that only a
// hung stream uses up.

namespace sonrigo {
namespace {

using namespace std::chrono_literals;
constexpr auto kPatience = 10s;

using test::DoneRecorder;
using Buffer = test::WaveBuffer;

TEST(NullWaveOutService, PlaysEveryDeviceIdInRealTimeReturningBuffersInOrderUntilClosed)
{
    NullWaveOutService service;
    const WaveFormat mono;
    WaveFormat stereo;
    stereo.channels = 2;
    stereo.blockAlign = 4;
    EXPECT_TRUE(service.query(-1, mono));
    EXPECT_TRUE(service.query(7, mono));
    EXPECT_FALSE(service.query(-1, stereo));
    EXPECT_EQ(service.open(0, stereo, nullptr), nullptr);

    // 50 ms each at 44100 Hz; declared before the stream, so that they outlive it.
    Buffer a(2205);
    Buffer b(2205);
    Buffer c(2205);
    auto window = std::make_unique<DoneRecorder>();
    const auto before = std::chrono::steady_clock::now();
    const std::unique_ptr<WaveOutStream> stream = service.open(7, mono, window.get());
    ASSERT_NE(stream, nullptr);
    for (Buffer* buffer : {&a, &b, &c}) {
        ASSERT_TRUE(stream->prepare(buffer->header));
        ASSERT_TRUE(stream->write(buffer->header));
    }

    std::uint32_t last = 0;
    const auto limit = std::chrono::steady_clock::now() + kPatience;
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

}  // namespace
}  // namespace sonrigo
