#include "support/JackServerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

namespace sonrigo::test {

JackServerProcess::JackServerProcess(const std::filesystem::path& jackd, const std::string& name,
                                     const std::filesystem::path& log, unsigned period)
{
    std::vector<std::string> args = {jackd.string(), "--no-realtime", "--sync", "--timeout", "5000", "--name", name,
                                     "-d", "dummy", "-r", std::to_string(kSampleRate), "-p", std::to_string(period)};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls until exec. The server must not
        // outlive a test process that dies without running destructors
        // (a sanitizer stopping it): jack2 allows only a few servers at once.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
}

JackServerProcess::~JackServerProcess()
{
    using namespace std::chrono_literals;
    if (pid_ <= 0 || exited())
        return;
    // A server killed while it writes its metadata database leaves a lock
    // that hangs every later JACK client, so it gets a long time to quit.
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 400 && !exited(); ++i)
        std::this_thread::sleep_for(50ms);
    if (!exited()) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool JackServerProcess::exited()
{
    if (reaped_)
        return true;
    reaped_ = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
    return reaped_;
}

std::filesystem::path JackServerProcess::FindJackd()
{
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::filesystem::path candidate = std::filesystem::path(dirs.substr(start, end - start)) / "jackd";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

std::string JackServerProcess::ServerName()
{
    std::error_code ignored;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", ignored).string();
    return "sonrigo-test-" + std::to_string(std::hash<std::string>{}(self) % 1000000);
}

}  // namespace sonrigo::test
