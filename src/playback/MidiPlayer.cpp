#include "playback/MidiPlayer.h"

#include "common/ErrorTexts.h"
#include "playback/SequencerState.h"

namespace sonrigo {

MidiPlayer::MidiPlayer(MidiF0Data& song, int deviceId) : timers_(CurrentTimerService())
{
    SequencerState& state = SequencerState::instance();
    std::int32_t skipped = 0;
    if (!state.prepare(song, deviceId, 0, skipped, device_))
        return;
    const std::int64_t first = timers_->nowUs() + std::int64_t{state.tickPeriod()} * 1000;
    state.startClock(first);
    firingUs_.store(first);
    const TimerId id = timers_->startAt(first, &MidiPlayer::onTimer, this);
    timer_.store(id);
    if (id == 0)
        kMidiPlayerErrors.report(MidiPlayerError::CantUseTimer);
}

MidiPlayer::~MidiPlayer()
{
    SequencerState::instance().closeDevice(device_);
}

void MidiPlayer::onTimer(TimerId, void* user)
{
    static_cast<MidiPlayer*>(user)->fire();
}

void MidiPlayer::fire()
{
    if (retired_.load())
        return;
    SequencerState& state = SequencerState::instance();
    if (state.stopRequest.load() == 1) {
        state.playing.store(0);
        return;
    }
    if (state.atEnd()) {
        // Stays playing until stopped, as an empty song always did.
        ReportGeneralError(0);
        return;
    }
    const std::int64_t firing = firingUs_.load();
    for (;;) {
        const std::int32_t delta = state.advance(state.currentRecord());
        // Retired while a blocking message box ("Tempo is too slow!") held the
        // send: the worker waits for this firing, nothing more may happen.
        if (retired_.load())
            return;
        if (delta < 0) {
            state.playing.store(0);
            return;
        }
        if (state.scheduleNext(*timers_, delta, firing, &MidiPlayer::onTimer, this, timer_, firingUs_) !=
            SequencerState::Step::SameFiring)
            return;
    }
}

}  // namespace sonrigo
