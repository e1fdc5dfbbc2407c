#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
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
// Every member may be called from any thread, timer callbacks included. A
// callback may even let go of the last reference to the service (it took the
// installed one just before another was installed): the thread then ends on
// its own once that callback has returned.
class ThreadTimerService final : public TimerService {
public:
    ThreadTimerService();
    // Stops the thread; pending timers are dropped without being called.
    ~ThreadTimerService() override;
    ThreadTimerService(const ThreadTimerService&) = delete;
    ThreadTimerService& operator=(const ThreadTimerService&) = delete;

    std::int64_t nowUs() const override;
    TimerId startAt(std::int64_t deadlineUs, TimerCallback callback, void* user) override;
    bool kill(TimerId id) override;
    void sleepFor(std::uint32_t ms) override;

    // Whether the timer thread got real-time (SCHED_FIFO) scheduling.
    bool runsAtRealTimePriority() const { return realTime_.load(std::memory_order_relaxed); }

private:
    // What the timer thread works on. The thread shares it, so that it can
    // outlive a service destroyed by one of its own callbacks.
    struct Core {
        std::mutex mutex;
        std::condition_variable wakeTimerThread;   // an earlier timer, or stop
        std::condition_variable callbackReturned;  // for kill() from other threads
        TimerSlots slots;
        TimerId runningId = 0;  // the callback now running on the timer thread
        bool stopping = false;
    };
    static void Run(const std::shared_ptr<Core>& core);
    bool onTimerThread() const;

    const std::shared_ptr<Core> core_ = std::make_shared<Core>();
    std::atomic<bool> realTime_{false};
    std::thread thread_;
};

}  // namespace sonrigo
