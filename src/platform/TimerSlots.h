#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/TimerService.h"

namespace sonrigo {

// The pending one-shot timers of a timer service, in a fixed array so that
// starting and killing a timer never allocate (both are called from timer
// callbacks). Not thread-safe: the owning service guards it with its lock.
class TimerSlots {
public:
    // Playback keeps one timer pending at a time; the rest leaves room for the
    // user interface's and the tests' own timers without ever growing.
    static constexpr std::size_t kCapacity = 64;

    struct Due {
        TimerId id = 0;
        TimerCallback callback = nullptr;
        void* user = nullptr;
        std::int64_t deadlineUs = 0;
    };

    // 0 when every slot is taken.
    TimerId add(std::int64_t deadlineUs, TimerCallback callback, void* user);
    // False when id names no pending timer (unknown, fired or cancelled).
    bool cancel(TimerId id);
    bool empty() const { return pending_ == 0; }
    // The earliest deadline, ties going to the timer started first. Only
    // when !empty().
    std::int64_t earliestDeadlineUs() const;
    // Removes the earliest timer and returns it; its slot is free at once, so
    // that its callback can start the next timer even when all others are taken.
    Due takeEarliest();

private:
    struct Slot {
        TimerId id = 0;  // 0: free
        std::uint64_t order = 0;
        std::int64_t deadlineUs = 0;
        TimerCallback callback = nullptr;
        void* user = nullptr;
    };

    std::size_t earliestIndex() const;
    void freeSlot(std::size_t index);

    std::array<Slot, kCapacity> slots_{};
    // Bumped on every reuse of a slot, so that an identifier that has fired or
    // been killed never names the slot's next timer.
    std::array<std::uint32_t, kCapacity> generations_{};
    std::uint64_t nextOrder_ = 0;
    std::size_t pending_ = 0;
    // One past the highest slot in use: add() takes the lowest free slot, so
    // the scans stay short while few timers are pending.
    std::size_t end_ = 0;
};

}  // namespace sonrigo
