#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace sonrigo {

// Tries a plug-in library in a child process before it is loaded into this
// one (see PluginTrial), so that a library that crashes, hangs, ends the
// process or plays garbage costs its slot and not the player. A verdict is
// kept for the rest of the run, by the file's path, size and modification
// time: "All" tries once and loads sixteen times, a library that failed
// stays refused until its file changes. Nothing is kept on disk.
//
// Threads: check and failures from one thread at a time (the owner's);
// the records are under a lock all the same.
class PluginProbe {
public:
    static constexpr std::chrono::milliseconds kTimeLimit{10000};

    struct Verdict {
        bool admitted = true;
        // For the user: why the library is refused (the load's own messages,
        // or the load-failure text and a line that says what the trial saw),
        // or a warning shown once with an admission.
        std::vector<std::string> messages;
    };

    // trialCommand: the program and the arguments that put it in trial mode,
    // to which the library's path is added (the player's own program with
    // "--plugin-trial", say). keepWaiting: see ChildProcess::run.
    explicit PluginProbe(std::vector<std::string> trialCommand, std::function<bool()> keepWaiting = {},
                         std::chrono::milliseconds limit = kTimeLimit);

    // Tries the library, or answers from the verdicts so far. Anything but
    // a regular file is admitted untried: the load refuses it with its
    // reason, without running any of its code.
    Verdict check(const std::string& path);

    // Called with true before a trial and false after it (the window shows
    // a busy cursor meanwhile). Set before the probe is installed.
    void onTrial(std::function<void(bool)> trying) { trying_ = std::move(trying); }

    // Asks the installed probe, if any, and shows what it says: true when
    // the library may be loaded.
    static bool Admits(const std::string& path);

    // The libraries refused in this run, and how, in the order they failed.
    std::vector<std::string> failures() const;
    // How many trials ran (verdicts from the records not counted).
    std::int32_t trials() const;

private:
    using Key = std::tuple<std::string, std::int64_t, std::int64_t>;  // path, size, mtime in ns

    struct Trial {
        Verdict verdict;
        std::string failure;  // "PATH: how", when refused for what the trial saw
        bool keep = true;     // false for a trial given up on: tried again next time
    };
    Trial runTrial(const std::string& path);

    std::vector<std::string> trialCommand_;
    std::function<bool()> keepWaiting_;
    std::function<void(bool)> trying_;
    std::chrono::milliseconds limit_;
    mutable std::mutex mutex_;
    std::map<Key, Verdict> verdicts_;
    std::vector<std::string> failures_;
    std::int32_t trials_ = 0;
    bool warnedUntried_ = false;
};

// The probe the player and the tools try libraries with; none by default
// (libraries then load untried). Safe from any thread.
std::shared_ptr<PluginProbe> InstallPluginProbe(std::shared_ptr<PluginProbe> probe);
std::shared_ptr<PluginProbe> CurrentPluginProbe();

}  // namespace sonrigo
