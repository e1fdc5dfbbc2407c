#pragma once

#include <mutex>
#include <vector>

#include "common/ErrorTable.h"

namespace sonrigo {

// Shows each code's text the first time it is reported; later reports of the
// same code show nothing. Reporting code 0 clears every flag. One instance is
// shared by the whole process (see the component that owns it); safe from any
// thread.
class WarnOnceReporter {
public:
    explicit WarnOnceReporter(const ErrorTable& table) : table_(table) {}

    // Returns the code's text whether or not it was shown; for code 0, which
    // only clears the flags, an empty text.
    std::string_view report(ErrorCode code);
    bool wasShown(ErrorCode code) const;

private:
    const ErrorTable& table_;
    mutable std::mutex mutex_;
    std::vector<ErrorCode> shown_;
};

}  // namespace sonrigo
