#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace sonrigo {

using TimerId = std::uint32_t;  // 0: no timer
// Runs on the timer service's own thread, never on the thread that started
// the timer. It may start new timers (that is how a sequencer reschedules
// itself) and must return quickly.
using TimerCallback = void (*)(TimerId id, void* user);

// One-shot timers and sleeping on one monotonic clock. Playback's threads
// (the user-interface thread's hand-shakes, the playback worker, the timer
// callbacks) all take their time from here, so that a virtual clock can run
// whole songs and the long waits of the hand-shakes in tests.
class TimerService {
public:
    virtual ~TimerService() = default;

    // Microseconds on the service's monotonic clock.
    virtual std::int64_t nowUs() const = 0;
    // Calls back once at the absolute deadline (at once when it has passed).
    // Callbacks run one at a time, in deadline order; timers with the same
    // deadline in the order they were started. Returns 0 when no timer can be
    // had (a service keeps a fixed number pending). Does not allocate: callable
    // from a timer callback.
    virtual TimerId startAt(std::int64_t deadlineUs, TimerCallback callback, void* user) = 0;
    TimerId startAfter(std::uint32_t delayMs, TimerCallback callback, void* user)
    {
        return startAt(nowUs() + std::int64_t{delayMs} * 1000, callback, user);
    }
    // Cancels a pending timer. If its callback is running on another thread,
    // waits for it to return, but no longer than kKillWaitMs: a callback can be
    // stuck in a slow plug-in or a message box, and the caller may be the
    // user-interface thread. True when no callback of the timer runs on
    // another thread any more; false when it was still running (call again to
    // wait longer). From inside a callback it only cancels, and answers true.
    // Unknown or finished identifiers are ignored.
    virtual bool kill(TimerId id) = 0;
    static constexpr std::uint32_t kKillWaitMs = 100;
    // The shortest period the service keeps to.
    virtual std::uint32_t minPeriodMs() const { return 1; }
    // Whether its time is the machine's. A virtual clock's threads have no
    // deadline to keep, and a real-time priority only costs them: the kernel
    // holds such a thread back for 50 ms of every second it runs busy.
    virtual bool realTime() const { return true; }

    // Sleeps the calling thread on this clock.
    virtual void sleepFor(std::uint32_t ms) = 0;
    // Sleeps in steps of periodMs for as long as keepWaiting() holds, looking
    // before each step: the poll of a thread that waits for others. A virtual
    // clock looks at each step's end on the thread that takes its events, and
    // wakes the poller only when it is done. keepWaiting() must only read
    // (atomics) and may run on another thread.
    virtual void pollWhile(std::uint32_t periodMs, const std::function<bool()>& keepWaiting)
    {
        while (keepWaiting())
            sleepFor(periodMs);
    }
    // A thread that will sleep on this clock is announced by the thread that
    // creates it, before it starts, and says goodbye when it ends; a virtual
    // clock advances only while every such thread sleeps.
    virtual void threadStarting() {}
    virtual void threadEnded() {}
};

// The process-wide service. Until one is installed, the first call creates
// the real one (a timer thread on the monotonic clock).
void InstallTimerService(std::shared_ptr<TimerService> service);
std::shared_ptr<TimerService> CurrentTimerService();

}  // namespace sonrigo
