#include <memory>
#include <mutex>
#include <utility>

#include "platform/ThreadTimerService.h"
#include "platform/TimerService.h"

namespace sonrigo {

namespace {

struct Registry {
    std::mutex mutex;
    std::shared_ptr<TimerService> service;
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

}  // namespace

void InstallTimerService(std::shared_ptr<TimerService> service)
{
    std::shared_ptr<TimerService> previous;
    {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        previous = std::exchange(registry.service, std::move(service));
    }
    // A replaced real service joins its thread here, outside the lock.
}

std::shared_ptr<TimerService> CurrentTimerService()
{
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (!registry.service)
        registry.service = std::make_shared<ThreadTimerService>();
    return registry.service;
}

}  // namespace sonrigo
