#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

extern char** environ;

namespace sonrigo {
namespace {

using Clock = std::chrono::steady_clock;

// The child's end of the report pipe: its file descriptor 3.
constexpr int kReportFd = 3;
// Kept above the few descriptors the child is given, so that putting the
// report end in place is always a real dup2 (which clears close-on-exec).
constexpr int kFirstPrivateFd = 10;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

std::string errorText(const std::string& what, int error)
{
    return what + ": " + std::generic_category().message(error);
}

// Reads what is there now; false at the end of the stream.
bool readSome(int fd, std::string& into)
{
    std::array<char, 4096> chunk{};
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n > 0) {
            const std::size_t room = ChildProcess::kMostReport - std::min(into.size(), ChildProcess::kMostReport);
            into.append(chunk.data(), std::min(static_cast<std::size_t>(n), room));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// Kills the child's process group and reaps the child.
void killAndReap(pid_t pid)
{
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

ChildProcess::Outcome ChildProcess::run(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                                        const std::function<bool()>& keepWaiting, std::chrono::milliseconds lookEvery)
{
    Outcome outcome;
    if (argv.empty()) {
        outcome.error = "no program given";
        return outcome;
    }
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        outcome.error = errorText("pipe", errno);
        return outcome;
    }
    Fd readEnd(::fcntl(ends[0], F_DUPFD_CLOEXEC, kFirstPrivateFd));
    Fd writeEnd(::fcntl(ends[1], F_DUPFD_CLOEXEC, kFirstPrivateFd));
    ::close(ends[0]);
    ::close(ends[1]);
    if (readEnd.get() < 0 || writeEnd.get() < 0) {
        outcome.error = errorText("pipe", errno);
        return outcome;
    }
    ::fcntl(readEnd.get(), F_SETFL, O_NONBLOCK);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), kReportFd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    // Handlers are reset by exec anyway; what is ignored here (SIGPIPE in the
    // command-line tool) must not stay ignored there.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd.reset();
    if (spawned != 0) {
        outcome.error = errorText(argv[0], spawned);
        return outcome;
    }

    const Clock::time_point deadline = Clock::now() + limit;
    bool reportOpen = true;
    for (;;) {
        int status = 0;
        pid_t reaped = ::waitpid(pid, &status, WNOHANG);
        while (reaped < 0 && errno == EINTR)
            reaped = ::waitpid(pid, &status, WNOHANG);
        if (reaped == pid) {
            if (reportOpen)
                readSome(readEnd.get(), outcome.report);
            // Whatever the child left running in its group goes with it.
            ::kill(-pid, SIGKILL);
            if (WIFSIGNALED(status)) {
                outcome.end = End::Signalled;
                outcome.signal = WTERMSIG(status);
            } else {
                outcome.end = End::Exited;
                outcome.status = WEXITSTATUS(status);
            }
            return outcome;
        }
        const Clock::time_point now = Clock::now();
        const bool late = now >= deadline;
        if (late || (keepWaiting && !keepWaiting())) {
            killAndReap(pid);
            // What it said up to its end tells how far it got.
            if (reportOpen)
                readSome(readEnd.get(), outcome.report);
            outcome.end = late ? End::TimedOut : End::Abandoned;
            return outcome;
        }
        const auto wait = std::min(lookEvery, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
        const int waitMs = static_cast<int>(std::max<std::int64_t>(wait.count(), 1));
        if (reportOpen) {
            pollfd watched{readEnd.get(), POLLIN, 0};
            if (::poll(&watched, 1, waitMs) > 0)
                reportOpen = readSome(readEnd.get(), outcome.report);
        } else {
            ::usleep(static_cast<useconds_t>(std::min(waitMs, 5)) * 1000);
        }
    }
}

std::string ChildProcess::SignalName(int signal)
{
    if (const char* name = ::sigabbrev_np(signal); name != nullptr)
        return std::string("SIG") + name;
    return "signal " + std::to_string(signal);
}

}  // namespace sonrigo
