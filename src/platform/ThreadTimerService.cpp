#include "platform/ThreadTimerService.h"

#include <sys/prctl.h>

#include <algorithm>
#include <chrono>

#include "platform/ThreadPriority.h"

namespace sonrigo {

namespace {

// High enough to run ahead of ordinary desktop work and of the audio render
// thread, low enough to stay under the audio servers' threads.
constexpr int kRealTimePriority = 70;

// The core of the service whose timer thread the current thread is, if any.
thread_local const void* tTimerThreadOf = nullptr;

std::chrono::steady_clock::time_point ToTimePoint(std::int64_t us)
{
    return std::chrono::steady_clock::time_point(std::chrono::microseconds(us));
}

std::int64_t NowUs()
{
    // libstdc++'s steady_clock is CLOCK_MONOTONIC, the clock the waits below use.
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ThreadTimerService::ThreadTimerService()
{
    thread_ = std::thread([core = core_] { Run(core); });
    realTime_.store(RaiseToRealTime(thread_.native_handle(), kRealTimePriority), std::memory_order_relaxed);
}

ThreadTimerService::~ThreadTimerService()
{
    {
        std::lock_guard lock(core_->mutex);
        core_->stopping = true;
    }
    core_->wakeTimerThread.notify_one();
    // From one of its own callbacks the thread cannot be joined: it sees the
    // stop once that callback returns, and the core goes with it.
    if (onTimerThread())
        thread_.detach();
    else
        thread_.join();
}

std::int64_t ThreadTimerService::nowUs() const
{
    return NowUs();
}

TimerId ThreadTimerService::startAt(std::int64_t deadlineUs, TimerCallback callback, void* user)
{
    if (callback == nullptr)
        return 0;
    bool earliest = false;
    TimerId id = 0;
    {
        std::lock_guard lock(core_->mutex);
        if (core_->stopping)
            return 0;
        earliest = core_->slots.empty() || deadlineUs < core_->slots.earliestDeadlineUs();
        id = core_->slots.add(deadlineUs, callback, user);
    }
    // From a callback the timer thread looks at the slots again when it returns.
    if (id != 0 && earliest && !onTimerThread())
        core_->wakeTimerThread.notify_one();
    return id;
}

bool ThreadTimerService::kill(TimerId id)
{
    std::unique_lock lock(core_->mutex);
    if (core_->slots.cancel(id) || id == 0 || onTimerThread())
        return true;
    return core_->callbackReturned.wait_for(lock, std::chrono::milliseconds(kKillWaitMs),
                                            [&] { return core_->runningId != id; });
}

void ThreadTimerService::sleepFor(std::uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool ThreadTimerService::onTimerThread() const
{
    return tTimerThreadOf == core_.get();
}

void ThreadTimerService::Run(const std::shared_ptr<Core>& core)
{
    tTimerThreadOf = core.get();
    // The kernel's default slack of 50 us for normal threads would make every
    // firing that much late; real-time threads have none anyway.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    std::unique_lock lock(core->mutex);
    while (!core->stopping) {
        if (core->slots.empty()) {
            core->wakeTimerThread.wait(lock);
            continue;
        }
        const std::int64_t deadline = core->slots.earliestDeadlineUs();
        if (NowUs() < deadline) {
            // An absolute wait: a late wake-up does not push later deadlines back.
            core->wakeTimerThread.wait_until(lock, ToTimePoint(deadline));
            continue;
        }
        const TimerSlots::Due due = core->slots.takeEarliest();
        core->runningId = due.id;
        lock.unlock();
        due.callback(due.id, due.user);
        lock.lock();
        core->runningId = 0;
        core->callbackReturned.notify_all();
    }
}

}  // namespace sonrigo
