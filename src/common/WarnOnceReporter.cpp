#include "common/WarnOnceReporter.h"

#include <algorithm>

namespace sonrigo {

std::string_view WarnOnceReporter::report(ErrorCode code)
{
    if (code == 0) {
        std::lock_guard lock(mutex_);
        shown_.clear();
        return {};
    }
    {
        std::lock_guard lock(mutex_);
        if (std::find(shown_.begin(), shown_.end(), code) != shown_.end())
            return table_.textFor(code);
        shown_.push_back(code);
    }
    return table_.report(code);
}

bool WarnOnceReporter::wasShown(ErrorCode code) const
{
    std::lock_guard lock(mutex_);
    return std::find(shown_.begin(), shown_.end(), code) != shown_.end();
}

}  // namespace sonrigo
