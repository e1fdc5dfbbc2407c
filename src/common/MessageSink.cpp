#include "common/MessageSink.h"

#include <mutex>
#include <utility>

#include "common/StderrMessageSink.h"

namespace sonrigo {
namespace {

std::mutex sinkMutex;

std::shared_ptr<MessageSink>& installedSink()
{
    static std::shared_ptr<MessageSink> sink = std::make_shared<StderrMessageSink>();
    return sink;
}

}  // namespace

std::shared_ptr<MessageSink> InstallMessageSink(std::shared_ptr<MessageSink> sink)
{
    if (!sink)
        sink = std::make_shared<StderrMessageSink>();
    std::lock_guard lock(sinkMutex);
    return std::exchange(installedSink(), std::move(sink));
}

int ShowMessage(std::string_view text)
{
    std::shared_ptr<MessageSink> sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = installedSink();
    }
    // Called outside the lock: a modal box blocks its caller only.
    sink->show(text);
    return 1;
}

}  // namespace sonrigo
