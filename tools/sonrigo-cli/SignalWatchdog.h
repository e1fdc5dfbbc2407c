#pragma once

#include <csignal>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace sonrigo {

// The exit status of a command stopped by a signal.
inline constexpr int kInterruptedStatus = 130;

// Lets SIGINT, SIGTERM, SIGHUP and SIGQUIT stop a command even while a
// plug-in never returns from a call. While the watchdog lives, a signal only
// raises interrupted() for the command's normal way out (which stops the
// render or the song and cleans up). Should the command not have destroyed
// the watchdog within a second and a half of the signal (a plug-in stuck in
// effOpen or processReplacing keeps it from ever getting there), or at a
// second signal, the watchdog's own thread removes the file given to
// removeOnGiveUp(), prints what happened and the command's last words on
// stderr and ends the process with status 130.
//
// SIGPIPE is ignored meanwhile, so that writing into a pipe whose reader has
// gone fails with a reason instead of ending the process without a word. One
// watchdog at a time; made and destroyed on the same thread.
class SignalWatchdog {
public:
    // lastWords: the lines printed when the process is ended (may be empty).
    explicit SignalWatchdog(std::string lastWords);
    // Puts the previous handlers back: from then on signals act as before.
    ~SignalWatchdog();
    SignalWatchdog(const SignalWatchdog&) = delete;
    SignalWatchdog& operator=(const SignalWatchdog&) = delete;

    // True once one of the signals has come. Safe from any thread.
    bool interrupted() const;
    // The same, for code that has no watchdog at hand (false while none is
    // alive and none has been signalled).
    static bool Signalled();
    // Stopped once a signal has come: for a long wait that can be given up
    // (a SoundFont's load), so that the command's normal way out comes in time.
    std::stop_token stopToken() const { return stop_.get_token(); }
    // The file to remove should the process be ended (a render's hidden
    // temporary); empty for none.
    void removeOnGiveUp(std::string path);

private:
    static constexpr int kSignalCount = 4;

    void watch();
    void giveUp();

    const std::string lastWords_;
    std::mutex mutex_;
    std::string removeOnGiveUp_;  // under mutex_
    bool ending_ = false;         // under mutex_: the command got out by itself
    std::stop_source stop_;
    struct sigaction previous_[kSignalCount] {};
    struct sigaction previousPipe_ {};
    std::thread thread_;
};

}  // namespace sonrigo
