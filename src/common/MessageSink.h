#pragma once

#include <memory>
#include <string_view>

namespace sonrigo {

// Where every user-facing message ends up: a modal box in the GUI, stderr in
// the command-line tools, a captured list in tests. Implementations must be
// safe to call from any thread; show() may block the calling thread (a modal
// box does) but must not block other callers.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(std::string_view text) = 0;
};

// Replaces the process-wide sink and returns the one it replaces. A null sink
// puts back the default, which writes to stderr. Safe from any thread.
std::shared_ptr<MessageSink> InstallMessageSink(std::shared_ptr<MessageSink> sink);

// Shows one message through the installed sink. Returns the box's result,
// always 1 (OK): the boxes have a single button. Safe from any thread.
int ShowMessage(std::string_view text);

}  // namespace sonrigo
