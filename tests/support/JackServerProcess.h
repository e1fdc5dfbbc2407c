#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace sonrigo::test {

// A JACK server for a test: jackd with the dummy driver (no sound card) at
// 44100 Hz and a period of 256 frames unless told otherwise, without
// real-time scheduling, its output in a log file. Synchronous, with a long client timeout: on a loaded
// machine the server waits for the clients instead of dropping their cycle.
// Stopped (SIGTERM, then after 20 s SIGKILL) when the object goes, and killed
// with the test process if that dies without running destructors.
//
// Clients reach it when JACK_DEFAULT_SERVER names it; the tests also point
// HOME at a temporary directory and set JACK_NO_AUDIO_RESERVATION=1 (see
// ScopedEnv). Starting does not wait: a test polls until a client opens.
class JackServerProcess {
public:
    JackServerProcess(const std::filesystem::path& jackd, const std::string& name, const std::filesystem::path& log,
                      unsigned period = kPeriod);
    ~JackServerProcess();
    JackServerProcess(const JackServerProcess&) = delete;
    JackServerProcess& operator=(const JackServerProcess&) = delete;

    // Whether the process was forked (not whether jackd came up).
    bool started() const { return pid_ > 0; }
    bool exited();

    // jackd on the PATH; empty when it is not installed.
    static std::filesystem::path FindJackd();
    // Unique to the test binary, yet the same at every run: jack2 keeps a
    // small table of servers and frees an entry only for a server of the same
    // name, so the entry of a run that died is taken back by the next one.
    static std::string ServerName();

    static constexpr unsigned kSampleRate = 44100;
    static constexpr unsigned kPeriod = 256;

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

}  // namespace sonrigo::test
