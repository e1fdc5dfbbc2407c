#include "platform/WaveStreamClock.h"

#include <algorithm>
#include <thread>

namespace sonrigo {

WaveStreamClock::WaveStreamClock(std::uint32_t rate, std::int64_t lostAfterUs, std::int64_t nowUs)
    : rate_(rate), lostAfterUs_(lostAfterUs), periodAtUs_(nowUs), resetAtUs_(nowUs)
{
}

std::uint32_t WaveStreamClock::framesIn(std::int64_t us) const
{
    return static_cast<std::uint32_t>(std::max<std::int64_t>(us, 0) * rate_ / 1'000'000);
}

void WaveStreamClock::played(std::uint64_t resets, std::uint32_t from, std::uint32_t frames, std::int64_t nowUs)
{
    if (resets != resets_.load() || lossState_.load() != 0)
        return;
    // Frames taken far faster than real time: the device fails every write at
    // once, and its callback runs in a loop.
    if (std::int64_t{from} + frames > std::int64_t{framesIn(nowUs - resetAtUs_.load())} + framesIn(lostAfterUs_)) {
        markLost(from, nowUs);
        return;
    }
    const std::uint64_t sequence = sequence_.load();
    sequence_.store(sequence + 1);
    periodResets_.store(resets);
    periodFrom_.store(from);
    periodFrames_.store(frames);
    periodAtUs_.store(nowUs);
    sequence_.store(sequence + 2);
}

void WaveStreamClock::fail(std::int64_t nowUs)
{
    markLost(position(nowUs), nowUs);
}

void WaveStreamClock::reset(std::int64_t nowUs)
{
    // The time first: a reader that sees the new count sees it too.
    resetAtUs_.store(nowUs);
    resets_.fetch_add(1);
}

WaveStreamClock::Period WaveStreamClock::lastPeriod() const
{
    for (;;) {
        const std::uint64_t before = sequence_.load();
        if ((before & 1) == 0) {
            const Period period{periodResets_.load(), periodFrom_.load(), periodFrames_.load(), periodAtUs_.load()};
            if (sequence_.load() == before)
                return period;
        }
        // The device's thread is between two stores.
        std::this_thread::yield();
    }
}

void WaveStreamClock::markLost(std::uint32_t from, std::int64_t atUs) const
{
    int playing = 0;
    if (!lossState_.compare_exchange_strong(playing, 1))
        return;
    lostFrom_.store(from);
    lostAtUs_.store(atUs);
    lossState_.store(2);
}

WaveStreamClock::State WaveStreamClock::settle(std::int64_t nowUs) const
{
    if (lossState_.load() == 0) {
        const Period period = lastPeriod();
        const std::int64_t resetAt = resetAtUs_.load();
        // A period of before the last reset stands for nothing: the position is 0 since.
        const bool current = period.resets == resets_.load();
        const std::uint32_t from = current ? period.from : 0;
        const std::uint32_t frames = current ? period.frames : 0;
        const std::int64_t at = current ? std::max(period.atUs, resetAt) : resetAt;
        if (nowUs - at <= lostAfterUs_)
            return {false, from + std::min(framesIn(nowUs - at), frames)};
        // Going on from where the last period's frames end, at the moment the device counts as lost.
        markLost(from + frames, at + lostAfterUs_);
    }
    while (lossState_.load() != 2)
        std::this_thread::yield();  // another thread is between its two stores
    return {true, lostFrom_.load() + framesIn(nowUs - lostAtUs_.load())};
}

std::uint32_t WaveStreamClock::position(std::int64_t nowUs) const
{
    return settle(nowUs).position;
}

bool WaveStreamClock::lost(std::int64_t nowUs) const
{
    return settle(nowUs).lost;
}

std::int64_t WaveStreamClock::quietUs(std::int64_t nowUs) const
{
    return nowUs - std::max(lastPeriod().atUs, resetAtUs_.load());
}

}  // namespace sonrigo
