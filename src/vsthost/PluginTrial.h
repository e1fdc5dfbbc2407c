#pragma once

#include <string>

namespace sonrigo {

// The trial run of a plug-in library, in a process of its own, before the
// player loads it: loaded and opened as the player opens it, resumed, a note
// played over a few blocks, suspended and closed. What happens is reported,
// line by line and unbuffered, on a file descriptor, so that the process
// that started the trial learns how far it got even when the plug-in crashes,
// hangs or ends the process:
//
//   step loading|starting|playing|stopping|closing   before each step
//   message TEXT     a message the load showed (\n and \\ escaped)
//   bad-samples      a block held samples that are not finite or beyond +-1000
//   past-block       the plug-in wrote past the end of a buffer's block
//   done             after the close
//
// Exit status 0 after "done"; kRefused when the load itself refused the
// library (its messages say why).
class PluginTrial {
public:
    static constexpr int kReportFd = 3;
    static constexpr int kRefused = 3;
    // The frames of each block the plug-in is asked for, as the player asks.
    static constexpr int kBlockSize = 882;

    // Runs the trial and ends the process with its status, without exit
    // handlers or destructors (the plug-in's state is not to be trusted).
    [[noreturn]] static void RunAndExit(const std::string& path, int reportFd = kReportFd);

    // A report line's text with \n and \\ escaped, and back.
    static std::string Escape(const std::string& text);
    static std::string Unescape(const std::string& text);
};

}  // namespace sonrigo
