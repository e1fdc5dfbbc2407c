#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/TimerService.h"
#include "platform/TimerSlots.h"

namespace sonrigo {

// The real timer service: one thread of its own sleeps to the earliest
// deadline on the monotonic clock and runs the callbacks there, one at a
// time, in deadline order (timers with the same deadline in the order they
// were started). It asks for real-time scheduling and keeps normal priority
// where the system does not allow it.
//
// Every member may be called from any thread, timer callbacks included,
// except the destructor: not from one of this service's own callbacks.
class ThreadTimerService final : public TimerService {
public:
    ThreadTimerService();
    // Stops the thread; pending timers are dropped without being called.
    ~ThreadTimerService() override;
    ThreadTimerService(const ThreadTimerService&) = delete;
    ThreadTimerService& operator=(const ThreadTimerService&) = delete;

    std::int64_t nowUs() const override;
    TimerId startAt(std::int64_t deadlineUs, TimerCallback callback, void* user) override;
    void kill(TimerId id) override;
    void sleepFor(std::uint32_t ms) override;

    // Whether the timer thread got real-time (SCHED_FIFO) scheduling.
    bool runsAtRealTimePriority() const { return realTime_.load(std::memory_order_relaxed); }

private:
    void run();
    bool onTimerThread() const;

    mutable std::mutex mutex_;
    std::condition_variable wakeTimerThread_;   // an earlier timer, or stop
    std::condition_variable callbackReturned_;  // for kill() from other threads
    TimerSlots slots_;
    TimerId runningId_ = 0;  // the callback now running on the timer thread
    bool stopping_ = false;
    std::atomic<bool> realTime_{false};
    std::thread thread_;
};

}  // namespace sonrigo
