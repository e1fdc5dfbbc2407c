#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "common/MessageSink.h"

namespace sonrigo {

// Keeps every message shown, in order, so that tests and tools can assert
// them. Safe from any thread.
class CapturedMessageSink final : public MessageSink {
public:
    void show(std::string_view text) override;

    std::vector<std::string> messages() const;
    // Returns the messages captured so far and forgets them.
    std::vector<std::string> take();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
};

}  // namespace sonrigo
