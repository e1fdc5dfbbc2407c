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

// The service whose timer thread the current thread is, if any.
thread_local const ThreadTimerService* tTimerThreadOf = nullptr;

std::chrono::steady_clock::time_point ToTimePoint(std::int64_t us)
{
    return std::chrono::steady_clock::time_point(std::chrono::microseconds(us));
}

}  // namespace

ThreadTimerService::ThreadTimerService()
{
    thread_ = std::thread([this] { run(); });
    realTime_.store(RaiseToRealTime(thread_.native_handle(), kRealTimePriority), std::memory_order_relaxed);
}

ThreadTimerService::~ThreadTimerService()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wakeTimerThread_.notify_one();
    thread_.join();
}

std::int64_t ThreadTimerService::nowUs() const
{
    // libstdc++'s steady_clock is CLOCK_MONOTONIC, the clock the waits below use.
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TimerId ThreadTimerService::startAt(std::int64_t deadlineUs, TimerCallback callback, void* user)
{
    if (callback == nullptr)
        return 0;
    bool earliest = false;
    TimerId id = 0;
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return 0;
        earliest = slots_.empty() || deadlineUs < slots_.earliestDeadlineUs();
        id = slots_.add(deadlineUs, callback, user);
    }
    // From a callback the timer thread looks at the slots again when it returns.
    if (id != 0 && earliest && !onTimerThread())
        wakeTimerThread_.notify_one();
    return id;
}

void ThreadTimerService::kill(TimerId id)
{
    std::unique_lock lock(mutex_);
    if (slots_.cancel(id) || id == 0 || onTimerThread())
        return;
    callbackReturned_.wait(lock, [&] { return runningId_ != id; });
}

void ThreadTimerService::sleepFor(std::uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool ThreadTimerService::onTimerThread() const
{
    return tTimerThreadOf == this;
}

void ThreadTimerService::run()
{
    tTimerThreadOf = this;
    // The kernel's default slack of 50 us for normal threads would make every
    // firing that much late; real-time threads have none anyway.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (slots_.empty()) {
            wakeTimerThread_.wait(lock);
            continue;
        }
        const std::int64_t deadline = slots_.earliestDeadlineUs();
        if (nowUs() < deadline) {
            // An absolute wait: a late wake-up does not push later deadlines back.
            wakeTimerThread_.wait_until(lock, ToTimePoint(deadline));
            continue;
        }
        const TimerSlots::Due due = slots_.takeEarliest();
        runningId_ = due.id;
        lock.unlock();
        due.callback(due.id, due.user);
        lock.lock();
        runningId_ = 0;
        callbackReturned_.notify_all();
    }
}

}  // namespace sonrigo
