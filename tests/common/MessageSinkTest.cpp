#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/CapturedMessageSink.h"
#include "common/MessageSink.h"
#include "common/StderrMessageSink.h"
#include "support/CaptureMessages.h"

namespace sonrigo {
namespace {

TEST(MessageSink, StderrSinkWritesOneLinePerMessage)
{
    StderrMessageSink sink;
    testing::internal::CaptureStderr();
    sink.show("Cant open file!");
    sink.show("/tmp/曲.mid");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "sonrigo: Cant open file!\nsonrigo: /tmp/曲.mid\n");
}

TEST(MessageSink, InstallingReplacesTheSinkAndNullRestoresTheDefault)
{
    auto first = std::make_shared<CapturedMessageSink>();
    auto previous = InstallMessageSink(first);
    ShowMessage("one");
    auto second = std::make_shared<CapturedMessageSink>();
    EXPECT_EQ(InstallMessageSink(second), first);
    ShowMessage("two");
    EXPECT_EQ(first->messages(), std::vector<std::string>{"one"});
    EXPECT_EQ(second->messages(), std::vector<std::string>{"two"});

    auto defaultSink = InstallMessageSink(nullptr);
    EXPECT_EQ(defaultSink, second);
    EXPECT_NE(dynamic_cast<StderrMessageSink*>(InstallMessageSink(previous).get()), nullptr);
}

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
