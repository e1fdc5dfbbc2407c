#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/TimerService.h"
#include "platform/TimerSlots.h"

namespace sonrigo {

// A clock for tests that runs whole songs, and the long polling waits of the
// playback hand-shakes, in a moment of real time, the same way every run.
//
// Virtual time starts at 0 us and moves only when nothing else can happen at
// the present instant: every participant sleeps on this clock and no timer
// callback runs. Participants are the thread that constructs the service and
// every thread announced with threadStarting() (until it calls threadEnded()).
// When they all sleep, the next event is taken by the participant that went
// to sleep last (or by the service's own thread, with Options::ownThread):
//   - a timer whose deadline has come: its callback runs on that thread,
//     with nowUs() equal to the deadline (or to the present, for a deadline
//     already past); timers fire one at a time, in deadline order, ties in
//     start order, and may start new timers;
//   - otherwise the sleeper that is due first (ties in the order they went to
//     sleep) wakes alone; time stands still until it sleeps again or ends.
// At any one instant, then, every due timer fires before any sleeper wakes:
// after runFor(t), everything due up to and including t has happened.
//
// Which thread takes the events changes nothing of their order, only their
// cost: taken by the last sleeper, a thread that sleeps until its own next
// wake-up with only timers due before it (the render thread between two
// passes) runs them itself and goes on, with no thread woken, while a thread
// of the service's own costs two thread switches for every event.
//
// Participants must wait only by sleeping on this clock: a participant that
// blocks on something else while others sleep stops the clock. That, and
// sleeping inside a timer callback or from a thread never announced, abort
// the process with a message on stderr instead of hanging the test run.
class VirtualTimerService final : public TimerService {
public:
    struct Options {
        // Real time that the clock may stand still, while some thread sleeps
        // on it, before the process is aborted as deadlocked. Generous, for
        // sanitizer builds on a loaded machine.
        std::chrono::milliseconds stallTimeout{20000};
        // Timer callbacks on a thread of the service's own, as a real-time
        // timer runs them, instead of on the participant that slept last.
        bool ownThread = false;
    };

    VirtualTimerService();
    explicit VirtualTimerService(Options options);
    // Pending timers are dropped. No thread may still sleep on the clock.
    ~VirtualTimerService() override;
    VirtualTimerService(const VirtualTimerService&) = delete;
    VirtualTimerService& operator=(const VirtualTimerService&) = delete;

    std::int64_t nowUs() const override { return now_.load(std::memory_order_acquire); }
    TimerId startAt(std::int64_t deadlineUs, TimerCallback callback, void* user) override;
    bool kill(TimerId id) override;
    void sleepFor(std::uint32_t ms) override;
    bool realTime() const override { return false; }
    // Time and order as if the poller woke at every step's end, looked and
    // slept again, but without waking it.
    void pollWhile(std::uint32_t periodMs, const std::function<bool()>& keepWaiting) override;
    void threadStarting() override;
    void threadEnded() override;

    // The test thread's way of letting time pass: sleeps until the given
    // virtual time. The thread must be a participant.
    void runFor(std::uint32_t ms) { sleepFor(ms); }
    void runUntil(std::int64_t virtualUs);
    // Sleeps until done() holds or limitMs of virtual time have passed, and
    // tells which. done() is evaluated on the service's thread while every
    // participant sleeps (so it may read, without locks, what participants
    // and callbacks wrote), and must not sleep or block.
    bool runUntil(const std::function<bool()>& done, std::uint32_t limitMs);

private:
    struct Sleeper {
        std::int64_t wakeUs = 0;
        std::uint64_t order = 0;
        const std::function<bool()>* done = nullptr;
        // A poller: at its wake-up, sleeps on by periodUs while this holds.
        const std::function<bool()>* keepWaiting = nullptr;
        std::int64_t periodUs = 0;
        bool woken = false;
        bool satisfied = false;
        std::condition_variable wake;
    };

    // True when woken because sleeper.done held.
    bool sleepUntil(std::int64_t wakeUs, const std::function<bool()>* done,
                    const std::function<bool()>* keepWaiting = nullptr, std::int64_t periodUs = 0);
    void run();
    // With every participant asleep: wakes one, or fires the earliest timer.
    void takeNextEvent(std::unique_lock<std::mutex>& lock);
    void takeOneEvent(std::unique_lock<std::mutex>& lock);
    // Without a thread of its own: whether the present thread, about to
    // sleep or to end, is the one to take the next event. Not while another
    // takes one, whose callback or done() runs unlocked.
    bool takesOnItsThread() const { return !options_.ownThread && !taking_ && quiescent(); }
    bool quiescent() const { return participants_ > 0 && sleepers_.size() == participants_; }
    bool wakeSatisfiedSleeper(std::unique_lock<std::mutex>& lock);
    void fireEarliest(std::unique_lock<std::mutex>& lock);
    void wake(Sleeper& sleeper);
    // A poller due: looks for it; true when it sleeps on.
    bool pollsOn(Sleeper& sleeper, std::unique_lock<std::mutex>& lock);
    void advanceTo(std::int64_t us);
    // True inside a timer callback or a done() of this clock's, and on the
    // service's own thread.
    bool onServiceThread() const;

    // Watches for a clock that stands still while someone sleeps on it.
    class StallWatch {
    public:
        explicit StallWatch(const VirtualTimerService& service);
        void check();  // with the lock held

    private:
        const VirtualTimerService& service_;
        std::uint64_t seen_;
        std::chrono::steady_clock::time_point since_;
    };
    std::chrono::milliseconds checkInterval() const;
    [[noreturn]] void fail(const char* what) const;  // with the lock held

    const Options options_;
    std::atomic<std::int64_t> now_{0};

    mutable std::mutex mutex_;
    std::condition_variable schedulerWake_;     // a participant went to sleep or ended, or stop
    std::condition_variable callbackReturned_;  // for kill() from other threads
    TimerSlots slots_;
    std::vector<Sleeper*> sleepers_;  // each on its thread's stack
    std::size_t participants_ = 1;    // the constructing thread
    std::uint64_t nextSleepOrder_ = 0;
    std::uint64_t progress_ = 0;  // bumped by everything that can unblock the clock
    TimerId runningId_ = 0;
    bool taking_ = false;  // a participant takes an event
    bool stopping_ = false;
    std::thread thread_;  // with Options::ownThread only
};

}  // namespace sonrigo
