// The real timer thread (ThreadTimerService) and the virtual clock
// (VirtualTimerService). Both keep their timers in TimerSlots: the order of
// timers due at once, and killing by identifier, are tested deterministically on
// the virtual clock; the real thread's tests assert order and "never early"
// only, and wait with slack that only a hung service uses up. Timers that must
// not fire on it are due 200 ms ahead, so that a descheduled test thread still
// kills or destroys them in time. A timer started from a callback on the real
// thread is tested by every song played on it (the window's and the JACK MIDI
// tests).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/ThreadTimerService.h"
#include "platform/VirtualTimerService.h"
#include "playback/PlaybackFixture.h"
#include "support/Gate.h"

namespace sonrigo {
namespace {

constexpr std::int64_t kHourUs = 3'600'000'000;

struct Firing {
    int tag;
    std::int64_t atUs;  // the service's time as it fired
    std::int64_t deadlineUs;
    std::thread::id thread;
};

// Records the firings of its tags, from whatever thread runs them.
struct Recorder {
    // With a next tag, its firing starts that one for nextAtUs.
    struct Tag {
        Recorder* recorder;
        int tag;
        Tag* next = nullptr;
        std::int64_t nextAtUs = 0;
        std::int64_t deadlineUs = 0;
    };
    TimerId start(Tag& tag, std::int64_t deadlineUs)
    {
        tag.deadlineUs = deadlineUs;
        return timers.startAt(deadlineUs, Fire, &tag);
    }
    std::vector<Firing> taken()
    {
        std::lock_guard lock(mutex);
        return firings;
    }
    // The firings once there are `count`, or when the patience (real time) is used up.
    std::vector<Firing> waitFor(std::size_t count)
    {
        test::WaitInRealTime([&] { return taken().size() >= count; });
        return taken();
    }
    static void Fire(TimerId, void* user)
    {
        auto& tag = *static_cast<Tag*>(user);
        Recorder& self = *tag.recorder;
        {
            std::lock_guard lock(self.mutex);
            self.firings.push_back({tag.tag, self.timers.nowUs(), tag.deadlineUs, std::this_thread::get_id()});
        }
        if (tag.next != nullptr)
            self.start(*tag.next, tag.nextAtUs);
    }

    TimerService& timers;
    std::mutex mutex{};
    std::vector<Firing> firings{};
};

TEST(ThreadTimerService, FiresInDeadlineOrderNeverEarlyOnItsOwnThreadUnlessKilledOrDestroyed)
{
    auto timers = std::make_unique<ThreadTimerService>();
    Recorder recorder{*timers};
    // Hold the timer thread until every timer is started, so that the order
    // cannot depend on how fast this thread starts them.
    test::Gate gate;
    timers->startAt(0, [](TimerId, void* user) { static_cast<test::Gate*>(user)->pass(); }, &gate);
    EXPECT_TRUE(gate.waitForArrival());

    Recorder::Tag a{&recorder, 1}, b{&recorder, 2}, c{&recorder, 3}, d{&recorder, 4}, e{&recorder, 5};
    Recorder::Tag near{&recorder, 6}, far{&recorder, 7}, killed{&recorder, 8}, dropped{&recorder, 9};
    const std::int64_t base = timers->nowUs() + 5000;
    recorder.start(c, base + 30'000);
    recorder.start(a, base + 10'000);
    timers->kill(recorder.start(killed, base + 15'000));
    recorder.start(b, base + 20'000);
    recorder.start(d, base + 40'000);
    recorder.start(e, base + 40'000);  // same deadline: start order
    recorder.start(far, base + kHourUs);
    gate.open();
    ASSERT_EQ(recorder.waitFor(5).size(), 5u);
    // An earlier timer cuts the wait for the hour's one short.
    recorder.start(near, timers->nowUs() + 20'000);

    const std::vector<Firing> firings = recorder.waitFor(6);
    ASSERT_EQ(firings.size(), 6u);
    for (std::size_t i = 0; i < firings.size(); ++i) {
        EXPECT_EQ(firings[i].tag, int(i) + 1);
        EXPECT_GE(firings[i].atUs, firings[i].deadlineUs) << "tag " << firings[i].tag;
        EXPECT_EQ(firings[i].thread, firings[0].thread);
    }
    EXPECT_NE(firings[0].thread, std::this_thread::get_id());
    // Destroying it drops the pending ones.
    recorder.start(dropped, timers->nowUs() + 200'000);
    timers.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(recorder.firings.size(), 6u);
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

// A timer that starts its next one periodUs after its own deadline.
struct Chain {
    TimerService& clock;
    int remaining;
    std::int64_t periodUs = 1000;
    std::int64_t nextUs = 0;
    int fired = 0;
    int offDeadline = 0;  // firings whose nowUs() was not their deadline

    void start() { nextUs = clock.nowUs() + periodUs; clock.startAt(nextUs, Step, this); }
    static void Step(TimerId, void* user)
    {
        auto& chain = *static_cast<Chain*>(user);
        ++chain.fired;
        chain.offDeadline += chain.clock.nowUs() != chain.nextUs;
        if (--chain.remaining > 0) {
            chain.nextUs += chain.periodUs;
            chain.clock.startAt(chain.nextUs, Step, user);
        }
    }
};

TEST(VirtualTimerService, FiresAtExactDeadlinesInOrderOnTheLastSleeperOrItsOwnThread)
{
    for (const bool ownThread : {false, true}) {
        SCOPED_TRACE(ownThread ? "own thread" : "last sleeper");
        VirtualTimerService::Options options;
        options.ownThread = ownThread;
        VirtualTimerService clock(options);
        Recorder recorder{clock};
        Recorder::Tag d{&recorder, 4}, e{&recorder, 5}, f{&recorder, 6}, late{&recorder, 7};
        // a starts f while the test thread sleeps until f's deadline: f still
        // fires before that sleep ends.
        Recorder::Tag a{&recorder, 1, &f, 40'000}, b{&recorder, 2}, c{&recorder, 3};
        recorder.start(c, 30'000);
        recorder.start(a, 10'007);
        recorder.start(b, 20'000);
        recorder.start(d, 40'000);
        recorder.start(e, 40'000);  // same deadline: start order
        clock.runFor(40);
        // A deadline already past fires at the present.
        recorder.start(late, 5'000);
        clock.runFor(0);

        ASSERT_EQ(recorder.firings.size(), 7u);
        const std::thread::id service = recorder.firings[0].thread;
        EXPECT_EQ(service != std::this_thread::get_id(), ownThread);
        const std::int64_t atUs[] = {10'007, 20'000, 30'000, 40'000, 40'000, 40'000, 40'000};
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(std::tuple(recorder.firings[i].tag, recorder.firings[i].atUs, recorder.firings[i].thread),
                      std::tuple(i + 1, atUs[i], service)) << i;
    }
}

TEST(VirtualTimerService, KillCancelsOnlyThePendingTimerItNamesAndDestroyingDropsTheRest)
{
    auto clock = std::make_unique<VirtualTimerService>();
    Recorder recorder{*clock};
    Recorder::Tag killed{&recorder, 1}, kept{&recorder, 2}, dropped{&recorder, 3};
    const TimerId first = recorder.start(killed, 10'000);
    clock->kill(first);
    const TimerId second = recorder.start(kept, 20'000);  // reuses the slot
    EXPECT_NE(second, first);
    clock->kill(first);
    clock->kill(0);
    clock->kill(0xFFFF'FFFFu);
    recorder.start(dropped, 50'000);
    clock->runFor(30);
    clock->kill(second);
    clock.reset();

    ASSERT_EQ(recorder.firings.size(), 1u);
    EXPECT_EQ(recorder.firings[0].tag, 2);
}

struct SlowCallback {
    std::atomic<bool> entered{false};
    std::atomic<bool> returned{false};
    static void Fire(TimerId, void* user)
    {
        auto& slow = *static_cast<SlowCallback*>(user);
        slow.entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // real time
        slow.returned = true;
    }
};

TEST(VirtualTimerService, KillFromAnotherThreadWaitsForTheRunningCallback)
{
    VirtualTimerService clock;
    SlowCallback slow;
    const TimerId id = clock.startAt(1000, SlowCallback::Fire, &slow);
    bool returnedBeforeKillDid = false;
    // Not a participant: it never sleeps on the clock.
    std::thread other([&] {
        while (!slow.entered)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        while (!clock.kill(id)) {
        }
        returnedBeforeKillDid = slow.returned;
    });
    clock.runFor(10);
    other.join();
    EXPECT_TRUE(returnedBeforeKillDid);
}

// The playback worker's wait for a song's end: it returns at the first step's
// end that finds the song over, as a loop of sleeps would, and is not woken
// for the steps before. The song here is a timer that starts its successor
// from its callback, at exact times; the test thread runs the clock until it
// ends, then for a limit.
TEST(VirtualTimerService, APollerAndRunUntilReturnAtTheFirstStepThatFindsThemDoneWithoutWakingBefore)
{
    for (const bool ownThread : {false, true}) {
        SCOPED_TRACE(ownThread ? "own thread" : "last sleeper");
        VirtualTimerService::Options options;
        options.ownThread = ownThread;
        VirtualTimerService clock(options);
        Chain chain{clock, 250};
        chain.start();
        std::atomic<std::int64_t> returnedAtUs{-1};
        std::atomic<int> looksOnThePoller{0};
        clock.threadStarting();
        std::thread poller([&] {
            const std::thread::id self = std::this_thread::get_id();
            clock.pollWhile(100, [&] {
                looksOnThePoller += std::this_thread::get_id() == self;
                return chain.fired < 250;
            });
            returnedAtUs = clock.nowUs();
            clock.threadEnded();
        });
        EXPECT_TRUE(clock.runUntil([&] { return chain.fired == 250; }, 1000));
        EXPECT_EQ(clock.nowUs(), 250'000);
        EXPECT_EQ(chain.offDeadline, 0);
        EXPECT_FALSE(clock.runUntil([] { return false; }, 100));
        EXPECT_EQ(clock.nowUs(), 350'000);
        poller.join();
        EXPECT_EQ(returnedAtUs.load(), 300'000);
        // With the looks on the service's thread: its first look, and the
        // last one once woken. (As the last sleeper, it takes them itself.)
        if (ownThread) {
            EXPECT_EQ(looksOnThePoller.load(), 2);
        }
    }
}

TEST(VirtualTimerServiceDeathTest, MisuseAbortsInsteadOfHanging)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            VirtualTimerService clock(VirtualTimerService::Options{std::chrono::milliseconds(200)});
            clock.threadStarting();  // announced, but never started
            clock.runFor(10);
        },
        "clock stands still");
    EXPECT_DEATH(
        {
            VirtualTimerService clock;
            clock.startAt(1000, [](TimerId, void* user) { static_cast<TimerService*>(user)->sleepFor(1); }, &clock);
            clock.runFor(10);
        },
        "callback sleeps");
}

}  // namespace
}  // namespace sonrigo
