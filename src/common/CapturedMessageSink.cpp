#include "common/CapturedMessageSink.h"

#include <utility>

namespace sonrigo {

void CapturedMessageSink::show(std::string_view text)
{
    std::lock_guard lock(mutex_);
    messages_.emplace_back(text);
}

std::vector<std::string> CapturedMessageSink::messages() const
{
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::string> CapturedMessageSink::take()
{
    std::lock_guard lock(mutex_);
    return std::exchange(messages_, {});
}

}  // namespace sonrigo
