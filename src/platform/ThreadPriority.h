#pragma once

#include <pthread.h>

namespace sonrigo {

// Raises a thread to SCHED_FIFO at `priority`, or, for a user without
// CAP_SYS_NICE, at the highest priority below it that RLIMIT_RTPRIO allows.
// false when neither is granted: the thread then keeps its normal priority,
// quietly. Priorities stay below the audio servers' threads (JACK's default
// is 80 and above, PipeWire's 88).
bool RaiseToRealTime(pthread_t thread, int priority);

}  // namespace sonrigo
