#include "platform/ThreadPriority.h"

#include <sched.h>
#include <sys/resource.h>

#include <algorithm>

namespace sonrigo {
namespace {

bool TrySchedFifo(pthread_t thread, int priority)
{
    sched_param param{};
    param.sched_priority = priority;
    return pthread_setschedparam(thread, SCHED_FIFO, &param) == 0;
}

}  // namespace

bool RaiseToRealTime(pthread_t thread, int priority)
{
    const int lowest = sched_get_priority_min(SCHED_FIFO);
    const int highest = sched_get_priority_max(SCHED_FIFO);
    if (lowest < 0 || highest < lowest)
        return false;
    if (TrySchedFifo(thread, std::clamp(priority, lowest, highest)))
        return true;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return false;
    const auto allowed = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(highest)));
    return allowed >= lowest && allowed < priority && TrySchedFifo(thread, allowed);
}

}  // namespace sonrigo
