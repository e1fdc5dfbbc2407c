#include "platform/TimerSlots.h"

#include <algorithm>

namespace sonrigo {

namespace {

// An identifier is the slot number plus one in the low byte (so never 0) and
// the slot's generation above it.
constexpr unsigned kIndexBits = 8;
static_assert(TimerSlots::kCapacity < (1u << kIndexBits));
constexpr std::uint32_t kGenerationMask = (1u << (32 - kIndexBits)) - 1;

}  // namespace

TimerId TimerSlots::add(std::int64_t deadlineUs, TimerCallback callback, void* user)
{
    for (std::size_t i = 0; i < kCapacity; ++i) {
        Slot& slot = slots_[i];
        if (slot.id != 0)
            continue;
        generations_[i] = (generations_[i] + 1) & kGenerationMask;
        slot.id = (generations_[i] << kIndexBits) | static_cast<TimerId>(i + 1);
        slot.order = nextOrder_++;
        slot.deadlineUs = deadlineUs;
        slot.callback = callback;
        slot.user = user;
        ++pending_;
        end_ = std::max(end_, i + 1);
        return slot.id;
    }
    return 0;
}

bool TimerSlots::cancel(TimerId id)
{
    const std::size_t index = (id & ((1u << kIndexBits) - 1));
    if (index == 0 || index > kCapacity || slots_[index - 1].id != id)
        return false;
    freeSlot(index - 1);
    return true;
}

std::size_t TimerSlots::earliestIndex() const
{
    std::size_t best = kCapacity;
    for (std::size_t i = 0; i < end_; ++i) {
        const Slot& slot = slots_[i];
        if (slot.id == 0)
            continue;
        if (best == kCapacity || slot.deadlineUs < slots_[best].deadlineUs ||
            (slot.deadlineUs == slots_[best].deadlineUs && slot.order < slots_[best].order))
            best = i;
    }
    return best;
}

std::int64_t TimerSlots::earliestDeadlineUs() const
{
    return slots_[earliestIndex()].deadlineUs;
}

TimerSlots::Due TimerSlots::takeEarliest()
{
    const std::size_t index = earliestIndex();
    const Slot& slot = slots_[index];
    const Due due{slot.id, slot.callback, slot.user, slot.deadlineUs};
    freeSlot(index);
    return due;
}

void TimerSlots::freeSlot(std::size_t index)
{
    slots_[index] = Slot{};
    --pending_;
    while (end_ > 0 && slots_[end_ - 1].id == 0)
        --end_;
}

}  // namespace sonrigo
