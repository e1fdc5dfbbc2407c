#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace sonrigo::test {

// Holds every thread that comes to it until the test opens it: a plug-in call
// that takes its time, a message box the user has not answered. Its waits are
// in real time. Open it before the threads it holds are joined.
class Gate {
public:
    // Long enough for a loaded machine under a sanitizer; only a hang uses it up.
    static constexpr std::chrono::milliseconds kPatience{20'000};

    // Blocks the calling thread until the gate is open.
    void pass()
    {
        std::unique_lock lock(mutex_);
        ++arrivals_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    // Whether a thread has come to the gate within the patience given.
    bool waitForArrival(std::chrono::milliseconds patience = kPatience)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [this] { return arrivals_ > 0; });
    }
    void open()
    {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int arrivals_ = 0;
    bool open_ = false;
};

}  // namespace sonrigo::test
