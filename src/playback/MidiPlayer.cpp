#include "playback/MidiPlayer.h"

#include "common/ErrorTexts.h"
#include "playback/SequencerState.h"

namespace sonrigo {

namespace {

std::atomic<TimerId> gMidiPlayerTimer{0};

}  // namespace

MidiPlayer::MidiPlayer(MidiF0Data& song, int deviceId)
{
    SequencerState& state = SequencerState::instance();
    std::int32_t skipped = 0;
    if (!state.prepare(song, deviceId, 0, skipped))
        return;
    TimerService& timers = *CurrentTimerService();
    const std::int64_t first = timers.nowUs() + std::int64_t{state.tickPeriod()} * 1000;
    state.startClock(first);
    firingUs_.store(first);
    const TimerId id = timers.startAt(first, &MidiPlayer::onTimer, this);
    gMidiPlayerTimer.store(id);
    if (id == 0)
        kMidiPlayerErrors.report(MidiPlayerError::CantUseTimer);
}

MidiPlayer::~MidiPlayer()
{
    SequencerState::instance().closeDevice();
}

TimerId MidiPlayer::timer()
{
    return gMidiPlayerTimer.load();
}

void MidiPlayer::onTimer(TimerId, void* user)
{
    static_cast<MidiPlayer*>(user)->fire();
}

void MidiPlayer::fire()
{
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
        if (delta < 0) {
            state.playing.store(0);
            return;
        }
        if (state.scheduleNext(delta, firing, &MidiPlayer::onTimer, this, gMidiPlayerTimer, firingUs_) !=
            SequencerState::Step::SameFiring)
            return;
    }
}

}  // namespace sonrigo
