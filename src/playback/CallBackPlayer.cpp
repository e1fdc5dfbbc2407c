#include "playback/CallBackPlayer.h"

#include <mutex>

#include "common/ErrorTexts.h"
#include "common/MessageSink.h"
#include "playback/SequencerState.h"
#include "song/MidiEvent.h"

namespace sonrigo {

namespace {

// What the players of the process share besides the sequencer state: the
// callbacks of the current player, its end tick and tick position. Set on the
// playback worker before the first timer starts, read by the timer callbacks.
struct CallbackState {
    std::mutex mutex;  // guards the callbacks while a player replaces them
    PerEventCallback onEvent;
    EndCallback onEnd;
    std::atomic<std::int32_t> endTick{-1};
    std::atomic<std::int32_t> tickPosition{0};
};

CallbackState& Callbacks()
{
    static CallbackState state;
    return state;
}

}  // namespace

CallBackPlayer::CallBackPlayer(MidiF0Data& song, int deviceId, EndCallback onEnd, PerEventCallback onEvent,
                               std::int32_t tickBase, std::int32_t startTick, std::int32_t endTick)
{
    {
        const std::lock_guard<std::mutex> lock(Callbacks().mutex);
        Callbacks().onEvent = std::move(onEvent);
        Callbacks().onEnd = std::move(onEnd);
    }
    Callbacks().endTick.store(endTick);
    start(song, deviceId, tickBase, startTick);
}

CallBackPlayer::CallBackPlayer(MidiF0Data& song, int deviceId, PerEventCallback onEvent, std::int32_t tickBase,
                               std::int32_t startTick, std::int32_t endTick)
{
    {
        const std::lock_guard<std::mutex> lock(Callbacks().mutex);
        Callbacks().onEvent = std::move(onEvent);
    }
    Callbacks().endTick.store(endTick);
    start(song, deviceId, tickBase, startTick);
}

CallBackPlayer::~CallBackPlayer()
{
    SequencerState::instance().closeDevice();
}

std::int32_t CallBackPlayer::tickPosition()
{
    return Callbacks().tickPosition.load();
}

void CallBackPlayer::start(MidiF0Data& song, int deviceId, std::int32_t tickBase, std::int32_t startTick)
{
    SequencerState& state = SequencerState::instance();
    std::int32_t skipped = 0;
    const bool prepared = state.prepare(song, deviceId, startTick, skipped);
    Callbacks().tickPosition.store(tickBase + skipped);
    if (!prepared)
        return;
    TimerService& timers = *CurrentTimerService();
    const std::int64_t first = timers.nowUs() + std::int64_t{state.tickPeriod()} * 1000;
    state.startClock(first);
    firingUs_.store(first);
    const TimerId id = timers.startAt(first, &CallBackPlayer::onTimer, this);
    timer_.store(id);
    if (id == 0)
        kMidiPlayerErrors.report(MidiPlayerError::CantUseTimer);
}

void CallBackPlayer::onTimer(TimerId, void* user)
{
    static_cast<CallBackPlayer*>(user)->fire();
}

std::int32_t CallBackPlayer::dispatch()
{
    SequencerState& state = SequencerState::instance();
    MidiEvent& record = state.currentRecord();
    const std::int32_t tick = Callbacks().tickPosition.load() + record.delta;
    Callbacks().tickPosition.store(tick);
    {
        const std::lock_guard<std::mutex> lock(Callbacks().mutex);
        if (Callbacks().onEvent)
            Callbacks().onEvent(state.currentIndex(), tick, &record);
    }
    return state.advance(record);
}

void CallBackPlayer::fire()
{
    SequencerState& state = SequencerState::instance();
    if (state.stopRequest.load() == 1 || state.atEnd()) {
        // A start at or past the last record leaves nothing to play.
        state.playing.store(0);
        return;
    }
    const std::int64_t firing = firingUs_.load();
    std::int32_t delta = dispatch();
    for (;;) {
        if (delta < 0) {
            state.playing.store(0);
            return;
        }
        const std::int32_t endTick = Callbacks().endTick.load();
        if (endTick != -1 && std::int64_t{Callbacks().tickPosition.load()} + delta >= endTick) {
            state.playing.store(0);
            EndCallback onEnd;
            {
                const std::lock_guard<std::mutex> lock(Callbacks().mutex);
                onEnd = Callbacks().onEnd;
            }
            if (onEnd) {
                onEnd();
            } else if (state.errorCount.fetch_add(1) == 0) {
                ShowMessage(kCallBackPlayerErrorText);
            }
            return;
        }
        if (state.scheduleNext(delta, firing, &CallBackPlayer::onTimer, this, timer_, firingUs_) !=
            SequencerState::Step::SameFiring)
            return;
        delta = dispatch();
    }
}

}  // namespace sonrigo
