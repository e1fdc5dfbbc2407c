#include "platform/VirtualTimerService.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sonrigo {

namespace {

thread_local const VirtualTimerService* tServiceThreadOf = nullptr;

// Marks the present thread as running the clock's events while it lives.
class ServiceScope {
public:
    explicit ServiceScope(const VirtualTimerService* service) : previous_(tServiceThreadOf)
    {
        tServiceThreadOf = service;
    }
    ~ServiceScope() { tServiceThreadOf = previous_; }
    ServiceScope(const ServiceScope&) = delete;
    ServiceScope& operator=(const ServiceScope&) = delete;

private:
    const VirtualTimerService* previous_;
};

}  // namespace

VirtualTimerService::VirtualTimerService() : VirtualTimerService(Options{}) {}

VirtualTimerService::VirtualTimerService(Options options) : options_(options)
{
    // A few sleepers at most: the test thread, the playback worker, a helper.
    sleepers_.reserve(8);
    if (options_.ownThread)
        thread_ = std::thread([this] { run(); });
}

VirtualTimerService::~VirtualTimerService()
{
    {
        std::lock_guard lock(mutex_);
        if (!sleepers_.empty())
            fail("destroyed while a thread sleeps on it");
        stopping_ = true;
    }
    schedulerWake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

TimerId VirtualTimerService::startAt(std::int64_t deadlineUs, TimerCallback callback, void* user)
{
    if (callback == nullptr)
        return 0;
    std::lock_guard lock(mutex_);
    const TimerId id = slots_.add(deadlineUs, callback, user);
    ++progress_;
    return id;
}

bool VirtualTimerService::kill(TimerId id)
{
    std::unique_lock lock(mutex_);
    if (slots_.cancel(id)) {
        ++progress_;
        return true;
    }
    if (id == 0 || onServiceThread())
        return true;
    // In real time: a callback runs in real time, whatever the clock says.
    return callbackReturned_.wait_for(lock, std::chrono::milliseconds(kKillWaitMs),
                                      [&] { return runningId_ != id; });
}

void VirtualTimerService::sleepFor(std::uint32_t ms)
{
    // A participant that runs holds the clock, so the present cannot move
    // between this read and going to sleep.
    sleepUntil(nowUs() + std::int64_t{ms} * 1000, nullptr);
}

void VirtualTimerService::pollWhile(std::uint32_t periodMs, const std::function<bool()>& keepWaiting)
{
    const std::int64_t periodUs = std::int64_t{periodMs} * 1000;
    while (keepWaiting())
        sleepUntil(nowUs() + periodUs, nullptr, &keepWaiting, periodUs);
}

void VirtualTimerService::runUntil(std::int64_t virtualUs)
{
    sleepUntil(virtualUs, nullptr);
}

bool VirtualTimerService::runUntil(const std::function<bool()>& done, std::uint32_t limitMs)
{
    if (done())
        return true;
    return sleepUntil(nowUs() + std::int64_t{limitMs} * 1000, &done) || done();
}

void VirtualTimerService::threadStarting()
{
    std::lock_guard lock(mutex_);
    ++participants_;
    ++progress_;
}

void VirtualTimerService::threadEnded()
{
    {
        std::unique_lock lock(mutex_);
        if (participants_ == 0)
            fail("threadEnded() without a matching threadStarting()");
        --participants_;
        ++progress_;
        // The last one awake hands the clock on before it goes.
        while (takesOnItsThread())
            takeNextEvent(lock);
    }
    schedulerWake_.notify_one();
}

bool VirtualTimerService::sleepUntil(std::int64_t wakeUs, const std::function<bool()>* done,
                                     const std::function<bool()>* keepWaiting, std::int64_t periodUs)
{
    Sleeper me;
    me.wakeUs = wakeUs;
    me.done = done;
    me.keepWaiting = keepWaiting;
    me.periodUs = periodUs;
    std::unique_lock lock(mutex_);
    if (onServiceThread())
        fail("a timer callback sleeps on the clock that runs it");
    me.order = nextSleepOrder_++;
    sleepers_.push_back(&me);
    if (sleepers_.size() > participants_)
        fail("a thread sleeps on the clock without having been announced with threadStarting()");
    ++progress_;
    schedulerWake_.notify_one();
    StallWatch watch(*this);
    while (!me.woken) {
        if (takesOnItsThread()) {
            takeNextEvent(lock);
            continue;
        }
        me.wake.wait_for(lock, checkInterval());
        if (!me.woken)
            watch.check();
    }
    return me.satisfied;
}

void VirtualTimerService::run()
{
    tServiceThreadOf = this;
    std::unique_lock lock(mutex_);
    StallWatch watch(*this);
    while (!stopping_) {
        if (!quiescent()) {
            schedulerWake_.wait_for(lock, checkInterval());
            if (!sleepers_.empty() && !quiescent())
                watch.check();
            continue;
        }
        takeNextEvent(lock);
    }
}

void VirtualTimerService::takeNextEvent(std::unique_lock<std::mutex>& lock)
{
    const ServiceScope scope(this);
    taking_ = true;
    takeOneEvent(lock);
    taking_ = false;
}

void VirtualTimerService::takeOneEvent(std::unique_lock<std::mutex>& lock)
{
    if (wakeSatisfiedSleeper(lock))
        return;
    // Quiescent means every participant sleeps, and there is at least one.
    Sleeper* next = *std::min_element(sleepers_.begin(), sleepers_.end(), [](const Sleeper* a, const Sleeper* b) {
        return a->wakeUs < b->wakeUs || (a->wakeUs == b->wakeUs && a->order < b->order);
    });
    if (!slots_.empty() && slots_.earliestDeadlineUs() <= std::max(next->wakeUs, nowUs()))
        fireEarliest(lock);
    else if (next->keepWaiting == nullptr || !pollsOn(*next, lock))
        wake(*next);
}

bool VirtualTimerService::pollsOn(Sleeper& sleeper, std::unique_lock<std::mutex>& lock)
{
    advanceTo(sleeper.wakeUs);
    // Unlocked, as a done(); the poller stays asleep meanwhile.
    lock.unlock();
    const bool waiting = (*sleeper.keepWaiting)();
    lock.lock();
    if (!waiting)
        return false;
    // As if it had woken, looked and gone to sleep again: last in order.
    sleeper.wakeUs = nowUs() + sleeper.periodUs;
    sleeper.order = nextSleepOrder_++;
    ++progress_;
    return true;
}

bool VirtualTimerService::wakeSatisfiedSleeper(std::unique_lock<std::mutex>& lock)
{
    for (std::size_t i = 0; i < sleepers_.size(); ++i) {
        Sleeper* sleeper = sleepers_[i];
        if (sleeper->done == nullptr)
            continue;
        // Unlocked, so that done() may use the service; only this thread
        // removes sleepers, so index i still names the same one afterwards.
        lock.unlock();
        const bool satisfied = (*sleeper->done)();
        lock.lock();
        if (satisfied) {
            sleeper->satisfied = true;
            sleeper->wakeUs = nowUs();  // now, not at its limit
            wake(*sleeper);
            return true;
        }
    }
    return false;
}

void VirtualTimerService::fireEarliest(std::unique_lock<std::mutex>& lock)
{
    const TimerSlots::Due due = slots_.takeEarliest();
    advanceTo(due.deadlineUs);
    runningId_ = due.id;
    lock.unlock();
    due.callback(due.id, due.user);
    lock.lock();
    runningId_ = 0;
    ++progress_;
    callbackReturned_.notify_all();
}

void VirtualTimerService::wake(Sleeper& sleeper)
{
    advanceTo(sleeper.wakeUs);
    sleepers_.erase(std::find(sleepers_.begin(), sleepers_.end(), &sleeper));
    sleeper.woken = true;
    ++progress_;
    sleeper.wake.notify_one();
}

void VirtualTimerService::advanceTo(std::int64_t us)
{
    if (us > nowUs())
        now_.store(us, std::memory_order_release);
}

bool VirtualTimerService::onServiceThread() const
{
    return tServiceThreadOf == this;
}

std::chrono::milliseconds VirtualTimerService::checkInterval() const
{
    return std::clamp(options_.stallTimeout / 4, std::chrono::milliseconds(1), std::chrono::milliseconds(1000));
}

VirtualTimerService::StallWatch::StallWatch(const VirtualTimerService& service)
    : service_(service), seen_(service.progress_), since_(std::chrono::steady_clock::now())
{
}

void VirtualTimerService::StallWatch::check()
{
    const auto now = std::chrono::steady_clock::now();
    if (service_.progress_ != seen_) {
        seen_ = service_.progress_;
        since_ = now;
    } else if (now - since_ > service_.options_.stallTimeout) {
        service_.fail("the clock stands still: a participant neither sleeps on it nor ends "
                      "(blocked elsewhere, or announced and never started?), or a callback does not return");
    }
}

void VirtualTimerService::fail(const char* what) const
{
    // A test double's last word before a deadlock or a misuse would hang the
    // run: there is no message sink to go through once the process aborts.
    std::fprintf(stderr,
                 "VirtualTimerService: %s (virtual time %lld us, %zu participants, %zu sleeping, timers %s)\n",
                 what, static_cast<long long>(nowUs()), participants_, sleepers_.size(),
                 slots_.empty() ? "none" : "pending");
    std::fflush(stderr);
    std::abort();
}

}  // namespace sonrigo
