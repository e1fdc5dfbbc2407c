#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace sonrigo {

// Runs a program in a process of its own and waits for it, at most a time
// limit, reading what it writes to its file descriptor 3 (its report). The
// child starts in a process group of its own, with standard input and output
// on /dev/null, standard error shared, no signal blocked or ignored; at the
// limit the whole group is killed. Meant for code that may crash or hang
// (a plug-in tried before it is loaded): nothing the child does reaches
// this process but its report and its end.
class ChildProcess {
public:
    enum class End {
        NotStarted,  // the program could not be started: see error
        Exited,      // status holds its exit status
        Signalled,   // signal holds the signal that ended it
        TimedOut,    // killed at the limit
        Abandoned,   // killed because keepWaiting said so
    };

    struct Outcome {
        End end = End::NotStarted;
        int status = 0;
        int signal = 0;
        std::string report;  // at most kMostReport bytes of it
        std::string error;   // NotStarted: why
    };

    static constexpr std::size_t kMostReport = 64 * 1024;

    // Runs argv (argv[0] is the program's path) for at most `limit`.
    // keepWaiting, when set, is called about every `lookEvery` while the child
    // runs; false ends the wait (the child is killed). It may run the caller's
    // event loop.
    static Outcome run(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                       const std::function<bool()>& keepWaiting = {},
                       std::chrono::milliseconds lookEvery = std::chrono::milliseconds(20));

    // "SIGSEGV" for SIGSEGV; "signal N" for a number without a name.
    static std::string SignalName(int signal);
};

}  // namespace sonrigo
