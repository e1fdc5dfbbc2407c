#include "SignalWatchdog.h"

#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

namespace sonrigo {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// Long enough for the stop hand-shake and a render's clean-up, short enough
// that the user does not reach for kill -9.
constexpr long kGraceMs = 1500;
constexpr char kGivingUp[] = "sonrigo: interrupted: ended without waiting for a call that does not return\n";

// A signal handler may only touch lock-free atomics and post a semaphore.
std::atomic<bool> gSignalled{false};
sem_t gWake;

extern "C" void OnStopSignal(int)
{
    gSignalled.store(true);
    sem_post(&gWake);
}

void WriteAll(const char* text, std::size_t length)
{
    while (length > 0) {
        const ssize_t wrote = ::write(STDERR_FILENO, text, length);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return;
        text += wrote;
        length -= static_cast<std::size_t>(wrote);
    }
}

// Waits for a post until the monotonic deadline; false when it passed.
bool WaitUntil(const timespec& deadline)
{
    for (;;) {
        if (sem_clockwait(&gWake, CLOCK_MONOTONIC, &deadline) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

}  // namespace

SignalWatchdog::SignalWatchdog(std::string lastWords) : lastWords_(std::move(lastWords))
{
    gSignalled.store(false);
    sem_init(&gWake, 0, 0);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &action, &previous_[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previousPipe_);
    thread_ = std::thread([this] { watch(); });
}

SignalWatchdog::~SignalWatchdog()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    sem_post(&gWake);
    thread_.join();
    for (int i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &previous_[i], nullptr);
    sigaction(SIGPIPE, &previousPipe_, nullptr);
    sem_destroy(&gWake);
}

bool SignalWatchdog::interrupted() const
{
    return gSignalled.load();
}

bool SignalWatchdog::Signalled()
{
    return gSignalled.load();
}

void SignalWatchdog::removeOnGiveUp(std::string path)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    removeOnGiveUp_ = std::move(path);
}

void SignalWatchdog::watch()
{
    while (sem_wait(&gWake) != 0 && errno == EINTR) {
    }
    if (!gSignalled.load())
        return;
    stop_.request_stop();
    timespec deadline {};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += kGraceMs / 1000;
    deadline.tv_nsec += kGraceMs % 1000 * 1'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1'000'000'000;
    }
    // Woken early either by the destructor or by a second signal.
    WaitUntil(deadline);
    giveUp();
}

void SignalWatchdog::giveUp()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ending_)
        return;
    if (!removeOnGiveUp_.empty())
        ::unlink(removeOnGiveUp_.c_str());
    WriteAll(kGivingUp, sizeof kGivingUp - 1);
    WriteAll(lastWords_.data(), lastWords_.size());
    // Neither destructors nor exit handlers: they could wait for the very
    // call that does not return.
    ::_exit(kInterruptedStatus);
}

}  // namespace sonrigo
