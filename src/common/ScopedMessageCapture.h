#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/CapturedMessageSink.h"
#include "common/MessageSink.h"

namespace sonrigo {

// Captures every message shown while it lives, then puts back the sink it
// replaced. For tools that print messages as part of their output, and tests.
class ScopedMessageCapture {
public:
    ScopedMessageCapture() : sink_(std::make_shared<CapturedMessageSink>()), previous_(InstallMessageSink(sink_)) {}
    ~ScopedMessageCapture() { InstallMessageSink(previous_); }
    ScopedMessageCapture(const ScopedMessageCapture&) = delete;
    ScopedMessageCapture& operator=(const ScopedMessageCapture&) = delete;

    // The messages shown since the last take().
    std::vector<std::string> take() { return sink_->take(); }

private:
    std::shared_ptr<CapturedMessageSink> sink_;
    std::shared_ptr<MessageSink> previous_;
};

}  // namespace sonrigo
