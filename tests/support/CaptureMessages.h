#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/CapturedMessageSink.h"
#include "common/MessageSink.h"

namespace sonrigo::test {

// Captures every message shown while it lives, then puts the previous sink back.
class CaptureMessages {
public:
    CaptureMessages() : sink_(std::make_shared<CapturedMessageSink>()), previous_(InstallMessageSink(sink_)) {}
    ~CaptureMessages() { InstallMessageSink(previous_); }
    CaptureMessages(const CaptureMessages&) = delete;
    CaptureMessages& operator=(const CaptureMessages&) = delete;

    // The messages shown since the last take().
    std::vector<std::string> take() { return sink_->take(); }

private:
    std::shared_ptr<CapturedMessageSink> sink_;
    std::shared_ptr<MessageSink> previous_;
};

}  // namespace sonrigo::test
