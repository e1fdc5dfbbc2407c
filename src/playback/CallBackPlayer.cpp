#include "playback/CallBackPlayer.h"

#include <mutex>
#include <utility>

#include "common/ErrorTexts.h"
#include "common/MessageSink.h"
#include "playback/SequencerState.h"
#include "song/MidiEvent.h"

namespace sonrigo {

namespace {

// What the players of the process share besides the sequencer state: the
// callbacks of the current player, its end tick and tick position. Set on the
// playback worker before the first timer starts, read by the timer callbacks.
// A firing copies the callbacks out under the lock and calls them without it:
// they reach plug-ins, which may take their time, while a new player (after
// "Quit and restart!") replaces them. Copying a shared_ptr does not allocate.
struct CallbackState {
    std::mutex mutex;  // guards the two pointers, never held during a call
    std::shared_ptr<const PerEventCallback> onEvent;
    std::shared_ptr<const EndCallback> onEnd;
    std::atomic<std::int32_t> endTick{-1};
    std::atomic<std::int32_t> tickPosition{0};
};

CallbackState& Callbacks()
{
    static CallbackState state;
    return state;
}

// The callback a player replaces goes outside the lock, on the worker.
template <typename Callback>
void Publish(std::shared_ptr<const Callback> CallbackState::*slot, Callback callback)
{
    auto next = std::make_shared<const Callback>(std::move(callback));
    const std::lock_guard<std::mutex> lock(Callbacks().mutex);
    (Callbacks().*slot).swap(next);
}

}  // namespace

CallBackPlayer::CallBackPlayer(MidiF0Data& song, int deviceId, EndCallback onEnd, PerEventCallback onEvent,
                               std::int32_t tickBase, std::int32_t startTick, std::int32_t endTick)
    : timers_(CurrentTimerService())
{
    Publish(&CallbackState::onEvent, std::move(onEvent));
    Publish(&CallbackState::onEnd, std::move(onEnd));
    Callbacks().endTick.store(endTick);
    start(song, deviceId, tickBase, startTick);
}

CallBackPlayer::CallBackPlayer(MidiF0Data& song, int deviceId, PerEventCallback onEvent, std::int32_t tickBase,
                               std::int32_t startTick, std::int32_t endTick)
    : timers_(CurrentTimerService())
{
    Publish(&CallbackState::onEvent, std::move(onEvent));
    Callbacks().endTick.store(endTick);
    start(song, deviceId, tickBase, startTick);
}

CallBackPlayer::~CallBackPlayer()
{
    SequencerState::instance().closeDevice(device_);
}

std::int32_t CallBackPlayer::tickPosition()
{
    return Callbacks().tickPosition.load();
}

void CallBackPlayer::start(MidiF0Data& song, int deviceId, std::int32_t tickBase, std::int32_t startTick)
{
    SequencerState& state = SequencerState::instance();
    std::int32_t skipped = 0;
    const bool prepared = state.prepare(song, deviceId, startTick, skipped, device_);
    Callbacks().tickPosition.store(tickBase + skipped);
    if (!prepared)
        return;
    const std::int64_t first = timers_->nowUs() + std::int64_t{state.tickPeriod()} * 1000;
    state.startClock(first);
    firingUs_.store(first);
    const TimerId id = timers_->startAt(first, &CallBackPlayer::onTimer, this);
    timer_.store(id);
    if (id == 0)
        kMidiPlayerErrors.report(MidiPlayerError::CantUseTimer);
}

void CallBackPlayer::onTimer(TimerId, void* user)
{
    static_cast<CallBackPlayer*>(user)->fire();
}

std::optional<std::int32_t> CallBackPlayer::dispatch(const PerEventCallback* onEvent)
{
    SequencerState& state = SequencerState::instance();
    MidiEvent& record = state.currentRecord();
    const std::int32_t tick = Callbacks().tickPosition.load() + record.delta;
    Callbacks().tickPosition.store(tick);
    if (onEvent != nullptr && *onEvent)
        (*onEvent)(state.currentIndex(), tick, &record);
    // Retired while the callback ran: the worker waits for this firing to
    // return before it destroys the player, and nothing more of it may happen.
    if (retired_.load())
        return std::nullopt;
    const std::int32_t delta = state.advance(record);
    if (retired_.load())  // a blocking message box ("Tempo is too slow!") held the send
        return std::nullopt;
    return delta;
}

void CallBackPlayer::fire()
{
    if (retired_.load())
        return;
    SequencerState& state = SequencerState::instance();
    if (state.stopRequest.load() == 1 || state.atEnd()) {
        // A start at or past the last record leaves nothing to play.
        state.playing.store(0);
        return;
    }
    std::shared_ptr<const PerEventCallback> onEvent;
    std::shared_ptr<const EndCallback> onEnd;
    {
        const std::lock_guard<std::mutex> lock(Callbacks().mutex);
        onEvent = Callbacks().onEvent;
        onEnd = Callbacks().onEnd;
    }
    const std::int64_t firing = firingUs_.load();
    std::optional<std::int32_t> delta = dispatch(onEvent.get());
    while (delta) {
        if (*delta < 0) {
            state.playing.store(0);
            return;
        }
        const std::int32_t endTick = Callbacks().endTick.load();
        if (endTick != -1 && std::int64_t{Callbacks().tickPosition.load()} + *delta >= endTick) {
            state.playing.store(0);
            if (onEnd && *onEnd) {
                (*onEnd)();
            } else if (state.errorCount.fetch_add(1) == 0) {
                ShowMessage(kCallBackPlayerErrorText);
            }
            return;
        }
        if (state.scheduleNext(*timers_, *delta, firing, &CallBackPlayer::onTimer, this, timer_, firingUs_) !=
            SequencerState::Step::SameFiring)
            return;
        delta = dispatch(onEvent.get());
    }
}

}  // namespace sonrigo
