#include "playback/MusicPlayer.h"

#include <optional>

#include "common/ErrorTexts.h"
#include "playback/CallBackPlayer.h"
#include "playback/MidiPlayer.h"
#include "playback/SequencerState.h"
#include "platform/TimerService.h"
#include "smf/MidiF0Data.h"
#include "song/MidiTrackData.h"

namespace sonrigo {

namespace {

constexpr int kDefaultDevice = -1;
constexpr std::uint32_t kPollMs = 100;
constexpr std::uint32_t kPlayerPollMs = 50;
constexpr int kStartStepsBeforeStop = 50;   // 5 s: then the previous song is asked to stop
constexpr int kStartStepsBeforeGiveUp = 100;  // about 10 s: then "Quit and restart!"
constexpr int kStopStepsForPlayer = 30;     // about 3 s
constexpr int kStopStepsBeforeKill = 20;    // about 2 s

TimerId TimerOf(const CallBackPlayer& player)
{
    return player.timer();
}

TimerId TimerOf(const MidiPlayer&)
{
    return MidiPlayer::timer();
}

// Kills the player's timer, waiting for a callback still running, then
// destroys the player, which closes the output device. Called without the
// slots' lock: a running callback may ask the controller things.
template <typename Player>
void DestroyPlayer(std::unique_ptr<Player> player)
{
    if (!player)
        return;
    CurrentTimerService()->kill(TimerOf(*player));
    player.reset();
}

}  // namespace

MusicPlayer& MusicPlayer::instance()
{
    static MusicPlayer player;
    return player;
}

MusicPlayer::~MusicPlayer()
{
    // A worker still running at exit is left to the end of the process.
    if (worker_.joinable()) {
        if (idle())
            worker_.join();
        else
            worker_.detach();
    }
}

std::string_view MusicPlayer::ReportError(std::uint32_t code)
{
    return kMusicPlayerErrors.report(code);
}

std::int32_t MusicPlayer::play(MidiF0Data* song, PerEventCallback onEvent, std::int32_t tickBase,
                               std::int32_t startTick, std::int32_t endTick, EndCallback onEnd)
{
    callbackMarker_.store(false);
    if (song == nullptr || song->state() != TrackState::OnOff)
        ReportError(MusicPlayerError::Internal);
    SequencerState& state = SequencerState::instance();

    // A player still here belongs to a worker given up on ("Quit and
    // restart!"): it goes first, with its timer and its output device, so that
    // it cannot later close the new player's device under it.
    std::unique_ptr<CallBackPlayer> oldCallBackPlayer;
    std::unique_ptr<MidiPlayer> oldMidiPlayer;
    {
        const std::lock_guard<std::mutex> lock(slotsMutex_);
        oldCallBackPlayer = std::move(callBackPlayer_);
        oldMidiPlayer = std::move(midiPlayer_);
        callBackPlayerSlot_ = Slot::Empty;
        midiPlayerSlot_ = Slot::Empty;
    }
    DestroyPlayer(std::move(oldCallBackPlayer));
    DestroyPlayer(std::move(oldMidiPlayer));

    const bool withCallback = static_cast<bool>(onEvent);
    std::unique_ptr<CallBackPlayer> failedCallBackPlayer;
    std::unique_ptr<MidiPlayer> failedMidiPlayer;
    {
        const std::lock_guard<std::mutex> lock(slotsMutex_);
        if (song != nullptr && withCallback) {
            callbackMarker_.store(true);
            if (onEnd)
                callBackPlayer_ = std::make_unique<CallBackPlayer>(*song, kDefaultDevice, std::move(onEnd),
                                                                   std::move(onEvent), tickBase, startTick, endTick);
            else
                callBackPlayer_ = std::make_unique<CallBackPlayer>(*song, kDefaultDevice, std::move(onEvent),
                                                                   tickBase, startTick, endTick);
            callBackPlayerSlot_ = Slot::Live;
        } else if (song != nullptr) {
            midiPlayer_ = std::make_unique<MidiPlayer>(*song, kDefaultDevice);
            midiPlayerSlot_ = Slot::Live;
        }
        if (song != nullptr && state.deviceOpen())
            return 1;
        if (withCallback) {
            failedCallBackPlayer = std::move(callBackPlayer_);
            callBackPlayerSlot_ = Slot::Attempted;
        } else {
            failedMidiPlayer = std::move(midiPlayer_);
            midiPlayerSlot_ = Slot::Attempted;
        }
    }
    DestroyPlayer(std::move(failedCallBackPlayer));
    DestroyPlayer(std::move(failedMidiPlayer));
    state.playing.store(0);
    return 0;
}

void MusicPlayer::requestStop()
{
    if (hasPlayer() == 1)
        SequencerState::instance().stopRequest.store(1);
}

void MusicPlayer::killTimer()
{
    // The live player's timer is read under the lock and killed outside it:
    // kill waits for a callback that is running, and a callback may ask the
    // controller things.
    auto liveTimer = [this]() -> std::optional<TimerId> {
        const std::lock_guard<std::mutex> lock(slotsMutex_);
        if (midiPlayerSlot_ == Slot::Live)
            return MidiPlayer::timer();
        if (callBackPlayerSlot_ == Slot::Live && callBackPlayer_)
            return callBackPlayer_->timer();
        return std::nullopt;
    };
    std::optional<TimerId> id = liveTimer();
    if (!id)
        return;
    TimerService& timers = *CurrentTimerService();
    // A callback running while it is killed may have set its next timer.
    while (*id != 0) {
        timers.kill(*id);
        const std::optional<TimerId> next = liveTimer();
        if (!next || *next == *id)
            break;
        id = next;
    }
    SequencerState::instance().playing.store(0);
}

std::int32_t MusicPlayer::hasPlayer() const
{
    const std::lock_guard<std::mutex> lock(slotsMutex_);
    return midiPlayerSlot_ != Slot::Empty || callBackPlayerSlot_ != Slot::Empty ? 1 : 0;
}

void MusicPlayer::waitForEnd(const PlaybackParameters& parameters)
{
    SequencerState& state = SequencerState::instance();
    TimerService& timers = *CurrentTimerService();
    while (state.playing.load() == 1)
        timers.sleepFor(kPollMs);
    if (state.stopRequest.load() == 0 && parameters.onEnd)
        parameters.onEnd();
}

void MusicPlayer::releasePlayer()
{
    std::unique_ptr<CallBackPlayer> callBackPlayer;
    std::unique_ptr<MidiPlayer> midiPlayer;
    {
        const std::lock_guard<std::mutex> lock(slotsMutex_);
        if (callbackMarker_.load()) {
            callBackPlayer = std::move(callBackPlayer_);
            callBackPlayerSlot_ = Slot::Empty;
            callbackMarker_.store(false);
        } else {
            midiPlayer = std::move(midiPlayer_);
            midiPlayerSlot_ = Slot::Empty;
        }
    }
    DestroyPlayer(std::move(callBackPlayer));
    DestroyPlayer(std::move(midiPlayer));
}

void MusicPlayer::runWorker(const PlaybackParameters& parameters)
{
    const std::int32_t ok = play(parameters.song, parameters.onEvent, parameters.tickBase, parameters.startTick,
                                 parameters.endTick, parameters.onEnd);
    if (ok == 1) {
        waitForEnd(parameters);
        if (parameters.ownsSong == 1)
            delete parameters.song;
        releasePlayer();
    } else {
        if (parameters.onEnd)
            parameters.onEnd();
        if (parameters.ownsSong == 1)
            delete parameters.song;
    }
    std::shared_ptr<TimerService> timers = CurrentTimerService();
    idle_.store(1);
    timers->threadEnded();
}

void MusicPlayer::joinFinishedWorker()
{
    if (!worker_.joinable())
        return;
    if (idle())
        worker_.join();
    else
        worker_.detach();  // given up on after "Quit and restart!"; it ends on its own
}

std::int32_t MusicPlayer::startWorker(PlaybackParameters parameters)
{
    TimerService& timers = *CurrentTimerService();
    for (int count = 0; !idle();) {
        timers.sleepFor(kPollMs);
        ++count;
        if (count == kStartStepsBeforeStop)
            requestStop();
        if (count > kStartStepsBeforeGiveUp) {
            ReportGeneralError(GeneralError::QuitAndRestart);
            break;
        }
    }
    joinFinishedWorker();
    // A slot a failed start left attempted must not pass for the new worker's
    // player before the worker has made it.
    clearAttemptedSlots();

    parameters_ = std::move(parameters);
    idle_.store(0);
    timers.threadStarting();
    // The worker gets its own copy: a worker given up on may still be reading.
    worker_ = std::thread([this, copy = parameters_] { runWorker(copy); });

    // Also ends when a worker has finished: a short song can end, and its
    // player be released, between two looks, and a finished worker makes no
    // player, so waiting for one would never end.
    while (hasPlayer() == 0 && idle() == 0)
        timers.sleepFor(kPlayerPollMs);
    return hasPlayer();
}

std::int32_t MusicPlayer::stopPlayback()
{
    TimerService& timers = *CurrentTimerService();
    for (int i = 0; hasPlayer() == 0;) {
        timers.sleepFor(kPollMs);
        if (++i > kStopStepsForPlayer) {
            MidiF0Data::ReportError(0);
            break;
        }
    }
    requestStop();
    for (int j = 0; !idle();) {
        timers.sleepFor(kPollMs);
        if (++j > kStopStepsBeforeKill) {
            killTimer();
            break;
        }
    }
    return 1;
}

void MusicPlayer::shutdown()
{
    TimerService& timers = *CurrentTimerService();
    // A worker that is only finishing (its song ended) is not stopped: a stop
    // would wait for a player that is gone.
    for (int i = 0; !idle() && i < kStopStepsBeforeKill; ++i) {
        if (hasPlayer() == 1) {
            stopPlayback();
            break;
        }
        timers.sleepFor(kPollMs);
    }
    for (int i = 0; !idle() && i < kStopStepsBeforeKill; ++i)
        timers.sleepFor(kPollMs);
    joinFinishedWorker();
    clearAttemptedSlots();
}

void MusicPlayer::clearAttemptedSlots()
{
    const std::lock_guard<std::mutex> lock(slotsMutex_);
    if (!idle())
        return;
    if (callBackPlayerSlot_ == Slot::Attempted)
        callBackPlayerSlot_ = Slot::Empty;
    if (midiPlayerSlot_ == Slot::Attempted)
        midiPlayerSlot_ = Slot::Empty;
}

}  // namespace sonrigo
