#include "platform/WaveStreamClock.h"

#include <algorithm>

namespace sonrigo {

WaveStreamClock::WaveStreamClock(std::uint32_t rate, std::int64_t lostAfterUs, std::int64_t nowUs)
    : rate_(rate), lostAfterUs_(lostAfterUs), originUs_(nowUs), resetAtUs_(nowUs)
{
    slots_[0].atUs.store(nowUs);
}

std::uint32_t WaveStreamClock::framesIn(std::int64_t us) const
{
    return static_cast<std::uint32_t>(std::max<std::int64_t>(us, 0) * rate_ / 1'000'000);
}

void WaveStreamClock::played(std::uint64_t resets, std::uint32_t from, std::uint32_t frames, std::int64_t nowUs)
{
    if (resets != resets_.load() || loss_.load() != 0)
        return;
    // Frames taken far faster than real time: the device fails every write at
    // once, and its callback runs in a loop.
    if (std::int64_t{from} + frames > std::int64_t{framesIn(nowUs - resetAtUs_.load())} + framesIn(lostAfterUs_)) {
        markLost(from, nowUs);
        return;
    }
    const int next = 1 - published_.load();
    Slot& slot = slots_[next];
    const std::uint64_t sequence = slot.sequence.load();
    slot.sequence.store(sequence + 1);
    slot.resets.store(resets);
    slot.from.store(from);
    slot.frames.store(frames);
    slot.atUs.store(nowUs);
    slot.sequence.store(sequence + 2);
    published_.store(next);
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
    // Read again only when the device's thread has meanwhile published the
    // other slot and begun writing this one again: a couple of times at most.
    for (;;) {
        const Slot& slot = slots_[published_.load()];
        const std::uint64_t before = slot.sequence.load();
        if ((before & 1) == 0) {
            const Period period{slot.resets.load(), slot.from.load(), slot.frames.load(), slot.atUs.load()};
            if (slot.sequence.load() == before)
                return period;
        }
    }
}

void WaveStreamClock::markLost(std::uint32_t from, std::int64_t atUs) const
{
    // Unsigned arithmetic: the position wraps as the frame count does.
    const std::uint32_t offset = from - framesIn(atUs - originUs_);
    std::uint64_t playing = 0;
    loss_.compare_exchange_strong(playing, kLost | offset);
}

WaveStreamClock::State WaveStreamClock::settle(std::int64_t nowUs) const
{
    if (loss_.load() == 0) {
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
    return {true, framesIn(nowUs - originUs_) + static_cast<std::uint32_t>(loss_.load())};
}

std::uint32_t WaveStreamClock::position(std::int64_t nowUs) const
{
    return settle(nowUs).position;
}

bool WaveStreamClock::lost(std::int64_t nowUs) const
{
    return settle(nowUs).lost;
}

}  // namespace sonrigo
