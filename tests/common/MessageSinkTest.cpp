#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/CapturedMessageSink.h"
#include "common/MessageSink.h"

namespace sonrigo {
namespace {

// Messages come from the UI, playback and timer threads at once while the GUI
// may be swapping the sink; none may be lost or torn (run under TSan too).
TEST(MessageSink, ConcurrentMessagesAndSinkSwapsLoseNothing)
{
    constexpr int kThreads = 4;
    constexpr int kMessagesEach = 500;
    auto a = std::make_shared<CapturedMessageSink>();
    auto b = std::make_shared<CapturedMessageSink>();
    auto previous = InstallMessageSink(a);

    std::atomic<bool> go{false};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&go, t] {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < kMessagesEach; ++i)
                ShowMessage("thread " + std::to_string(t) + " message " + std::to_string(i));
        });
    }
    go = true;
    for (int swap = 0; swap < 200; ++swap)
        InstallMessageSink(swap % 2 == 0 ? b : a);
    for (std::thread& sender : senders)
        sender.join();
    InstallMessageSink(previous);

    std::vector<std::string> all = a->messages();
    const std::vector<std::string> fromB = b->messages();
    all.insert(all.end(), fromB.begin(), fromB.end());
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kMessagesEach));
    for (const std::string& message : all)
        EXPECT_EQ(message.rfind("thread ", 0), 0u) << message;
}

}  // namespace
}  // namespace sonrigo
