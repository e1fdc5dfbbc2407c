#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/FileDialog.h"

namespace sonrigo {

// A dialog with no window: it answers with the paths queued in advance, in
// order, and cancels once none is left. The command-line tools queue the path
// they were given; tests queue answers and read back what was asked.
class HeadlessFileDialog final : public FileDialog {
public:
    struct Request {
        std::string defaultExtension;
        std::string filter;
        std::string initialName;
    };

    // An empty path queues a cancel.
    void queueAnswer(std::string path);
    std::vector<Request> requests() const;

    std::optional<std::string> chooseFileToOpen(std::string_view defaultExtension,
                                                std::string_view filter,
                                                std::string_view initialName) override;

private:
    mutable std::mutex mutex_;
    std::deque<std::string> answers_;
    std::vector<Request> requests_;
};

}  // namespace sonrigo
