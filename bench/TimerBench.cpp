// How late the real timer service fires: 2,000 one-shot timers, each started
// from the previous one's callback at an absolute deadline 1 to 3 ms after the
// previous deadline (as the sequencer reschedules itself), the lateness
// (actual firing time minus deadline, in microseconds) of every firing kept.
// Reported as counters: median, p99 and max lateness, and whether the timer
// thread got real-time scheduling (1) or ran at normal priority (0). One pass
// takes about 4 s of wall time; the iteration time itself means nothing.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <future>
#include <vector>

#include "platform/ThreadTimerService.h"

namespace {

using namespace sonrigo;

constexpr int kFirings = 2000;

// 1000 to 3000 us, spread by a fixed stride so that every run asks the same.
std::int64_t GapUs(int i)
{
    return 1000 + (std::int64_t{i} * 7919) % 2001;
}

struct LatenessRun {
    ThreadTimerService& timers;
    std::vector<std::int64_t>& latenessUs;  // sized kFirings before the run
    int index = 0;
    std::int64_t deadlineUs = 0;
    std::promise<void> done{};

    static void Fire(TimerId, void* user)
    {
        auto& run = *static_cast<LatenessRun*>(user);
        run.latenessUs[static_cast<std::size_t>(run.index)] = run.timers.nowUs() - run.deadlineUs;
        if (++run.index == kFirings) {
            run.done.set_value();
            return;
        }
        run.deadlineUs += GapUs(run.index);
        run.timers.startAt(run.deadlineUs, Fire, user);
    }
};

void BM_TimerLateness(benchmark::State& state)
{
    std::vector<std::int64_t> latenessUs(kFirings);
    bool realTime = false;
    for (auto _ : state) {
        ThreadTimerService timers;
        realTime = timers.runsAtRealTimePriority();
        LatenessRun run{timers, latenessUs};
        std::future<void> done = run.done.get_future();
        // Ahead of the first deadline by more than the thread needs to start.
        run.deadlineUs = timers.nowUs() + 10'000;
        if (timers.startAt(run.deadlineUs, LatenessRun::Fire, &run) == 0) {
            state.SkipWithError("no timer");
            return;
        }
        done.wait();
    }
    std::sort(latenessUs.begin(), latenessUs.end());
    state.counters["median_us"] = double(latenessUs[kFirings / 2]);
    state.counters["p99_us"] = double(latenessUs[kFirings * 99 / 100]);
    state.counters["max_us"] = double(latenessUs.back());
    state.counters["realtime"] = realTime ? 1 : 0;
}
BENCHMARK(BM_TimerLateness)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
