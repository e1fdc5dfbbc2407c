#include "platform/ThreadTimerService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "playback/PlaybackFixture.h"
#include "support/Gate.h"

// The deterministic behaviour shared with the virtual clock (slots, stale
// identifiers) is tested there, and a timer started from a callback on this
// thread by every song played on it (the window's and the JACK MIDI tests);
// these tests cover the real thread. They assert order and "never early"
// only, and wait with slack that only a hung service uses up. Timers that must
// not fire are due 200 ms ahead, so that a descheduled test thread still kills
// or destroys them in time.

namespace sonrigo {
namespace {

constexpr auto kPatience = std::chrono::seconds(10);
constexpr std::int64_t kHourUs = 3'600'000'000;

struct Firing {
    int tag;
    std::int64_t lateUs;  // negative: early
    std::thread::id thread;
};

// Records firings; done() becomes ready at the expected count.
struct Recorder {
    TimerService& timers;
    std::size_t expected;
    std::mutex mutex{};
    std::vector<Firing> firings{};
    std::promise<void> promise{};
    std::future<void> future = promise.get_future();

    struct Tag {
        Recorder* recorder;
        int tag;
        std::int64_t deadlineUs = 0;
    };
    TimerId start(Tag& tag, std::int64_t deadlineUs)
    {
        tag.deadlineUs = deadlineUs;
        return timers.startAt(deadlineUs, Fire, &tag);
    }
    bool done() { return future.wait_for(kPatience) == std::future_status::ready; }
    static void Fire(TimerId, void* user)
    {
        auto& tag = *static_cast<Tag*>(user);
        Recorder& self = *tag.recorder;
        const std::int64_t late = self.timers.nowUs() - tag.deadlineUs;
        std::lock_guard lock(self.mutex);
        self.firings.push_back({tag.tag, late, std::this_thread::get_id()});
        if (self.firings.size() == self.expected)
            self.promise.set_value();
    }
};

TEST(ThreadTimerService, FiresInDeadlineOrderNeverEarlyOnItsOwnThread)
{
    ThreadTimerService timers;
    Recorder recorder{timers, 5};
    // Hold the timer thread until every timer is started, so that the order
    // cannot depend on how fast this thread starts them.
    test::Gate gate;
    timers.startAt(0, [](TimerId, void* user) { static_cast<test::Gate*>(user)->pass(); }, &gate);
    EXPECT_TRUE(gate.waitForArrival());

    Recorder::Tag a{&recorder, 1}, b{&recorder, 2}, c{&recorder, 3}, d{&recorder, 4}, e{&recorder, 5};
    const std::int64_t base = timers.nowUs() + 5000;
    recorder.start(c, base + 30'000);
    recorder.start(a, base + 10'000);
    recorder.start(b, base + 20'000);
    recorder.start(d, base + 40'000);
    recorder.start(e, base + 40'000);  // same deadline: start order
    gate.open();

    ASSERT_TRUE(recorder.done());
    std::lock_guard lock(recorder.mutex);
    for (std::size_t i = 0; i < recorder.firings.size(); ++i) {
        EXPECT_EQ(recorder.firings[i].tag, int(i) + 1);
        EXPECT_GE(recorder.firings[i].lateUs, 0) << "tag " << recorder.firings[i].tag;
        EXPECT_EQ(recorder.firings[i].thread, recorder.firings[0].thread);
    }
    EXPECT_NE(recorder.firings[0].thread, std::this_thread::get_id());
}

TEST(ThreadTimerService, AnEarlierTimerCutsALongerWaitShortAndDestroyingDropsThePendingOnes)
{
    auto timers = std::make_unique<ThreadTimerService>();
    Recorder recorder{*timers, 1};
    Recorder::Tag far{&recorder, 1}, near{&recorder, 2}, dropped{&recorder, 3};
    recorder.start(far, timers->nowUs() + kHourUs);
    recorder.start(near, timers->nowUs() + 20'000);
    ASSERT_TRUE(recorder.done());
    recorder.start(dropped, timers->nowUs() + 200'000);
    timers.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::lock_guard lock(recorder.mutex);
    ASSERT_EQ(recorder.firings.size(), 1u);
    EXPECT_EQ(recorder.firings[0].tag, 2);
}

TEST(ThreadTimerService, KilledTimersNeverFireWhetherKilledOutsideOrFromACallback)
{
    ThreadTimerService timers;
    Recorder recorder{timers, 1};
    Recorder::Tag victim{&recorder, 1}, victimOfCallback{&recorder, 2}, sentinel{&recorder, 3};
    struct Killer {
        TimerService* timers;
        TimerId victim = 0;
    } killer{&timers};
    timers.kill(recorder.start(victim, timers.nowUs() + 200'000));
    killer.victim = recorder.start(victimOfCallback, timers.nowUs() + 200'000);
    recorder.start(sentinel, timers.nowUs() + 300'000);
    timers.startAt(0, [](TimerId self, void* user) {
        auto& k = *static_cast<Killer*>(user);
        k.timers->kill(self);  // running: must not wait for itself
        k.timers->kill(k.victim);
    }, &killer);
    ASSERT_TRUE(recorder.done());
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.firings[0].tag, 3);
}

// A callback stuck in a plug-in must not hold the caller of kill for good.
TEST(ThreadTimerService, KillFromAnotherThreadWaitsForTheRunningCallbackOnlyForAWhile)
{
    ThreadTimerService timers;
    test::Gate gate;
    std::atomic<bool> returned{false};
    struct Stuck {
        test::Gate* gate;
        std::atomic<bool>* returned;
    } stuck{&gate, &returned};
    const TimerId id = timers.startAt(0, [](TimerId, void* user) {
        auto& s = *static_cast<Stuck*>(user);
        s.gate->pass();
        s.returned->store(true);
    }, &stuck);
    ASSERT_TRUE(gate.waitForArrival());
    auto killed = std::async(std::launch::async, [&] { return timers.kill(id); });
    const bool killReturned = killed.wait_for(kPatience) == std::future_status::ready;
    gate.open();
    ASSERT_TRUE(killReturned);
    EXPECT_FALSE(killed.get());
    while (!timers.kill(id)) {
    }
    EXPECT_TRUE(returned);
}

// A callback may hold the last reference to the service that runs it (it took
// the installed one just before another was installed).
TEST(ThreadTimerService, ACallbackMayLetGoOfTheLastReferenceToItsService)
{
    auto timers = std::make_shared<ThreadTimerService>();
    struct Holder {
        std::shared_ptr<ThreadTimerService> timers;
        test::Gate gate{};
        std::atomic<bool> done{false};
    } holder{timers};
    timers->startAt(0, [](TimerId, void* user) {
        auto& h = *static_cast<Holder*>(user);
        h.gate.pass();  // until the test has let go of its own reference
        h.timers.reset();
        h.done.store(true);
    }, &holder);
    timers.reset();
    holder.gate.open();
    EXPECT_TRUE(test::WaitInRealTime([&] { return holder.done.load(); }));
}

}  // namespace
}  // namespace sonrigo
