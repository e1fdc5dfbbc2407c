#include "platform/ThreadTimerService.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>

namespace sonrigo {

namespace {

// High enough to run ahead of ordinary desktop work, low enough to stay under
// the audio servers' threads (JACK's default is 80 and above, PipeWire's 88).
constexpr int kRealTimePriority = 70;

// The service whose timer thread the current thread is, if any.
thread_local const ThreadTimerService* tTimerThreadOf = nullptr;

bool TrySchedFifo(pthread_t thread, int priority)
{
    sched_param param{};
    param.sched_priority = priority;
    return pthread_setschedparam(thread, SCHED_FIFO, &param) == 0;
}

// SCHED_FIFO at kRealTimePriority, or at the highest priority RLIMIT_RTPRIO
// allows a user without CAP_SYS_NICE; false when neither is granted.
bool RaiseToRealTime(pthread_t thread)
{
    const int lowest = sched_get_priority_min(SCHED_FIFO);
    const int highest = sched_get_priority_max(SCHED_FIFO);
    if (lowest < 0 || highest < lowest)
        return false;
    if (TrySchedFifo(thread, std::clamp(kRealTimePriority, lowest, highest)))
        return true;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return false;
    const auto allowed = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(highest)));
    return allowed >= lowest && allowed < kRealTimePriority && TrySchedFifo(thread, allowed);
}

std::chrono::steady_clock::time_point ToTimePoint(std::int64_t us)
{
    return std::chrono::steady_clock::time_point(std::chrono::microseconds(us));
}

}  // namespace

ThreadTimerService::ThreadTimerService()
{
    thread_ = std::thread([this] { run(); });
    realTime_.store(RaiseToRealTime(thread_.native_handle()), std::memory_order_relaxed);
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
