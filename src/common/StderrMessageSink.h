#pragma once

#include <mutex>

#include "common/MessageSink.h"

namespace sonrigo {

// Writes each message as one line "sonrigo: <text>" to stderr; lines from
// different threads never interleave.
class StderrMessageSink final : public MessageSink {
public:
    void show(std::string_view text) override;

private:
    std::mutex mutex_;
};

}  // namespace sonrigo
