#include "platform/VirtualTimerService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace sonrigo {
namespace {

// Callbacks run on the service's thread while the test thread sleeps on the
// clock, so the test reads what they wrote once runFor returns.
struct Firing {
    int tag;
    std::int64_t atUs;
    std::thread::id thread;
    bool operator==(const Firing&) const = default;
};

struct Recorder {
    TimerService& clock;
    std::vector<Firing> firings;
};

// Records its firing and, with a next tag, starts that one for nextAtUs.
struct Tag {
    Recorder* recorder;
    int tag;
    Tag* next = nullptr;
    std::int64_t nextAtUs = 0;
};

void Record(TimerId, void* user)
{
    const auto* tag = static_cast<Tag*>(user);
    tag->recorder->firings.push_back({tag->tag, tag->recorder->clock.nowUs(), std::this_thread::get_id()});
    if (tag->next != nullptr)
        tag->recorder->clock.startAt(tag->nextAtUs, Record, tag->next);
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
        Recorder recorder{clock, {}};
        Tag d{&recorder, 4}, e{&recorder, 5}, f{&recorder, 6}, late{&recorder, 7};
        // a starts f while the test thread sleeps until f's deadline: f still
        // fires before that sleep ends.
        Tag a{&recorder, 1, &f, 40'000}, b{&recorder, 2}, c{&recorder, 3};
        clock.startAt(30'000, Record, &c);
        clock.startAt(10'007, Record, &a);
        clock.startAt(20'000, Record, &b);
        clock.startAt(40'000, Record, &d);
        clock.startAt(40'000, Record, &e);  // same deadline: start order
        EXPECT_EQ(clock.nowUs(), 0);

        clock.runFor(40);
        EXPECT_EQ(clock.nowUs(), 40'000);
        // A deadline already past fires at the present.
        clock.startAt(5'000, Record, &late);
        clock.runFor(0);

        ASSERT_EQ(recorder.firings.size(), 7u);
        const std::thread::id service = recorder.firings[0].thread;
        EXPECT_EQ(service != std::this_thread::get_id(), ownThread);
        EXPECT_EQ(recorder.firings, (std::vector<Firing>{{1, 10'007, service},
                                                         {2, 20'000, service},
                                                         {3, 30'000, service},
                                                         {4, 40'000, service},
                                                         {5, 40'000, service},
                                                         {6, 40'000, service},
                                                         {7, 40'000, service}}));
    }
}

struct SelfKiller {
    TimerService& clock;
    TimerId self = 0;
    TimerId victim = 0;
    static void Fire(TimerId, void* user)
    {
        auto& k = *static_cast<SelfKiller*>(user);
        k.clock.kill(k.self);  // running: must not wait for itself
        k.clock.kill(k.victim);
    }
};

TEST(VirtualTimerService, KillCancelsOnlyThePendingTimerItNamesAndDestroyingDropsTheRest)
{
    auto clock = std::make_unique<VirtualTimerService>();
    Recorder recorder{*clock, {}};
    Tag killed{&recorder, 1}, kept{&recorder, 2}, victim{&recorder, 3}, dropped{&recorder, 4};
    const TimerId first = clock->startAt(10'000, Record, &killed);
    clock->kill(first);
    const TimerId second = clock->startAt(20'000, Record, &kept);  // reuses the slot
    EXPECT_NE(second, first);
    clock->kill(first);
    clock->kill(0);
    clock->kill(0xFFFF'FFFFu);
    SelfKiller killer{*clock};
    killer.self = clock->startAt(1000, SelfKiller::Fire, &killer);
    killer.victim = clock->startAt(2000, Record, &victim);
    clock->startAt(50'000, Record, &dropped);
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

TEST(VirtualTimerService, SleepingThreadsInterleaveByVirtualTime)
{
    VirtualTimerService clock;
    std::mutex mutex;
    std::vector<std::pair<char, std::int64_t>> log;
    auto walker = [&](char name, std::uint32_t firstMs) {
        clock.sleepFor(firstMs);
        for (int step = 0; step < 5; ++step) {
            // Real work while awake: the clock must wait for it.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            {
                std::lock_guard lock(mutex);
                log.emplace_back(name, clock.nowUs());
            }
            clock.sleepFor(100);
        }
        clock.threadEnded();
    };
    clock.threadStarting();
    std::thread a(walker, 'a', 100);
    clock.threadStarting();
    std::thread b(walker, 'b', 50);
    clock.runFor(1000);
    a.join();
    b.join();

    std::vector<std::pair<char, std::int64_t>> expected;
    for (std::int64_t ms = 50; ms <= 500; ms += 50)
        expected.emplace_back(ms % 100 == 0 ? 'a' : 'b', ms * 1000);
    std::lock_guard lock(mutex);
    EXPECT_EQ(log, expected);
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
