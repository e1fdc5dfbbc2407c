#include <memory>

#include "common/InstalledService.h"
#include "platform/ThreadTimerService.h"
#include "platform/TimerService.h"

namespace sonrigo {

namespace {

InstalledService<TimerService>& Installed()
{
    static InstalledService<TimerService> installed;
    return installed;
}

}  // namespace

void InstallTimerService(std::shared_ptr<TimerService> service)
{
    // A replaced real service joins its thread when this goes, outside the
    // lock, unless a player or a running callback still holds it.
    const std::shared_ptr<TimerService> previous = Installed().exchange(std::move(service));
}

std::shared_ptr<TimerService> CurrentTimerService()
{
    return Installed().current([] { return std::make_shared<ThreadTimerService>(); });
}

}  // namespace sonrigo
