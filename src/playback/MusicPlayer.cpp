#include "playback/MusicPlayer.h"

#include <optional>
#include <utility>

#include "common/ErrorTexts.h"
#include "playback/CallBackPlayer.h"
#include "playback/MidiPlayer.h"
#include "playback/SequencerState.h"
#include "platform/TimerService.h"
#include "smf/MidiF0Data.h"
#include "song/MidiTrackData.h"

namespace sonrigo {

// One Play's run. Its number tells a worker given up on ("Quit and restart!")
// from the current one; its callbacks go through the flags below.
struct PlaybackRun {
    std::uint64_t number = 0;
    std::atomic<bool> abandoned{false};  // shutdown gave up on its worker
    std::atomic<bool> ended{false};      // its end callback has been called
};

namespace {

constexpr int kDefaultDevice = -1;
constexpr std::uint32_t kPollMs = 100;
constexpr std::uint32_t kPlayerPollMs = 50;
constexpr int kStartStepsBeforeStop = 50;   // 5 s: then the previous song is asked to stop
constexpr int kStartStepsBeforeGiveUp = 100;  // about 10 s: then "Quit and restart!"
constexpr int kStopStepsForPlayer = 30;     // about 3 s
constexpr int kStopStepsBeforeKill = 20;    // about 2 s

// The end callback as the run's player and worker call it: the timer thread
// at an end tick and the worker at the end may both come, only the first
// calls through. No callback of a run starts once shutdown has given up on it;
// a call already in progress (a plug-in that does not come back) cannot be
// recalled.
EndCallback EndOnce(std::shared_ptr<PlaybackRun> run, EndCallback onEnd)
{
    if (!onEnd)
        return {};
    return [run = std::move(run), onEnd = std::move(onEnd)] {
        if (!run->abandoned.load() && !run->ended.exchange(true))
            onEnd();
    };
}

PerEventCallback UnlessAbandoned(std::shared_ptr<PlaybackRun> run, PerEventCallback onEvent)
{
    if (!onEvent)
        return {};
    return [run = std::move(run), onEvent = std::move(onEvent)](std::int32_t index, std::int32_t tick,
                                                                MidiEvent* record) {
        if (!run->abandoned.load())
            onEvent(index, tick, record);
    };
}

// Retires the player, kills its timer and destroys it, which closes its
// output device. Waits for a callback still running however long it takes (a
// slow plug-in): the player must not go under it. The worker's; called
// without the slots' lock, since a running callback may ask the controller
// things.
template <typename Player>
void DestroyPlayer(std::unique_ptr<Player> player)
{
    if (!player)
        return;
    player->retire();
    const std::shared_ptr<TimerService> timers = player->timerService();
    for (TimerId id = player->timer();;) {
        if (!timers->kill(id))
            continue;
        // A firing that had not yet seen the retirement may have set its next timer.
        const TimerId next = player->timer();
        if (next == id)
            break;
        id = next;
    }
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

bool MusicPlayer::current(const PlaybackRun& run) const
{
    return run_.load() == run.number;
}

std::int32_t MusicPlayer::play(const PlaybackParameters& parameters, const PlaybackRun& run)
{
    MidiF0Data* song = parameters.song;
    callbackMarker_.store(false);
    if (song == nullptr || song->state() != TrackState::OnOff)
        ReportError(MusicPlayerError::Internal);

    // A player still here belongs to a worker given up on ("Quit and
    // restart!"): it goes first, with its timer and its output device, so that
    // its callbacks cannot run beside the new player's.
    std::unique_ptr<CallBackPlayer> oldCallBackPlayer;
    std::unique_ptr<MidiPlayer> oldMidiPlayer;
    std::shared_ptr<const void> oldKeepAlive;
    {
        const std::lock_guard<std::mutex> lock(slotsMutex_);
        oldCallBackPlayer = std::move(callBackPlayer_);
        oldMidiPlayer = std::move(midiPlayer_);
        oldKeepAlive = std::move(slotsKeepAlive_);
        callBackPlayerSlot_ = Slot::Empty;
        midiPlayerSlot_ = Slot::Empty;
    }
    DestroyPlayer(std::move(oldCallBackPlayer));
    DestroyPlayer(std::move(oldMidiPlayer));
    oldKeepAlive.reset();

    // Built with no lock held: opening the MIDI output may show a message box
    // that waits for the user, while the window polls hasPlayer.
    const bool withCallback = static_cast<bool>(parameters.onEvent);
    std::unique_ptr<CallBackPlayer> callBackPlayer;
    std::unique_ptr<MidiPlayer> midiPlayer;
    if (song != nullptr && withCallback) {
        if (parameters.onEnd)
            callBackPlayer = std::make_unique<CallBackPlayer>(*song, kDefaultDevice, parameters.onEnd,
                                                              parameters.onEvent, parameters.tickBase,
                                                              parameters.startTick, parameters.endTick);
        else
            callBackPlayer = std::make_unique<CallBackPlayer>(*song, kDefaultDevice, parameters.onEvent,
                                                              parameters.tickBase, parameters.startTick,
                                                              parameters.endTick);
    } else if (song != nullptr) {
        midiPlayer = std::make_unique<MidiPlayer>(*song, kDefaultDevice);
    }
    const bool opened = callBackPlayer ? callBackPlayer->opened() : midiPlayer && midiPlayer->opened();
    bool isCurrent = false;
    {
        const std::lock_guard<std::mutex> lock(slotsMutex_);
        // A worker given up on while it built its player keeps it to itself.
        isCurrent = current(run);
        if (isCurrent) {
            const Slot filled = opened ? Slot::Live : Slot::Attempted;
            if (withCallback) {
                callBackPlayerSlot_ = filled;
                if (opened)
                    callBackPlayer_ = std::move(callBackPlayer);
            } else {
                midiPlayerSlot_ = filled;
                if (opened)
                    midiPlayer_ = std::move(midiPlayer);
            }
            callbackMarker_.store(withCallback);
            slotsRun_ = run.number;
            if (opened) {
                slotsKeepAlive_ = parameters.keepAlive;
                return 1;
            }
        }
    }
    DestroyPlayer(std::move(callBackPlayer));
    DestroyPlayer(std::move(midiPlayer));
    if (isCurrent)
        SequencerState::instance().playing.store(0);
    return 0;
}

void MusicPlayer::requestStop()
{
    if (hasPlayer() == 1)
        SequencerState::instance().stopRequest.store(1);
}

void MusicPlayer::killTimer()
{
    struct LiveTimer {
        TimerId id;
        std::shared_ptr<TimerService> timers;
    };
    // Read under the lock and killed outside it: a callback may ask the
    // controller things.
    auto liveTimer = [this]() -> std::optional<LiveTimer> {
        const std::lock_guard<std::mutex> lock(slotsMutex_);
        if (midiPlayerSlot_ == Slot::Live && midiPlayer_)
            return LiveTimer{midiPlayer_->timer(), midiPlayer_->timerService()};
        if (callBackPlayerSlot_ == Slot::Live && callBackPlayer_)
            return LiveTimer{callBackPlayer_->timer(), callBackPlayer_->timerService()};
        return std::nullopt;
    };
    std::optional<LiveTimer> live = liveTimer();
    if (!live)
        return;
    // A callback still running after the kill's short wait (stuck in a
    // plug-in) is the worker's to wait for. One that returned may have set
    // its next timer.
    while (live->id != 0 && live->timers->kill(live->id)) {
        const std::optional<LiveTimer> next = liveTimer();
        if (!next || next->id == live->id)
            break;
        live = next;
    }
    SequencerState::instance().playing.store(0);
}

std::int32_t MusicPlayer::hasPlayer() const
{
    const std::lock_guard<std::mutex> lock(slotsMutex_);
    return midiPlayerSlot_ != Slot::Empty || callBackPlayerSlot_ != Slot::Empty ? 1 : 0;
}

void MusicPlayer::waitForEnd(const PlaybackParameters& parameters, const PlaybackRun& run, TimerService& timers)
{
    SequencerState& state = SequencerState::instance();
    timers.pollWhile(kPollMs,
                     [&] { return state.playing.load() == 1 && current(run) && !run.abandoned.load(); });
    if (current(run) && state.stopRequest.load() == 0 && parameters.onEnd)
        parameters.onEnd();
}

void MusicPlayer::releasePlayer(const PlaybackRun& run)
{
    std::unique_ptr<CallBackPlayer> callBackPlayer;
    std::unique_ptr<MidiPlayer> midiPlayer;
    std::shared_ptr<const void> keepAlive;
    {
        const std::lock_guard<std::mutex> lock(slotsMutex_);
        // The slots are a newer run's: this run's player went with its play.
        if (slotsRun_ != run.number)
            return;
        if (callbackMarker_.load()) {
            callBackPlayer = std::move(callBackPlayer_);
            callBackPlayerSlot_ = Slot::Empty;
            callbackMarker_.store(false);
        } else {
            midiPlayer = std::move(midiPlayer_);
            midiPlayerSlot_ = Slot::Empty;
        }
        keepAlive = std::move(slotsKeepAlive_);
    }
    DestroyPlayer(std::move(callBackPlayer));
    DestroyPlayer(std::move(midiPlayer));
}

void MusicPlayer::runWorker(PlaybackParameters parameters, const std::shared_ptr<PlaybackRun>& run,
                            const std::shared_ptr<TimerService>& timers)
{
    if (parameters.ownsSong == 1 && !parameters.keepAlive)
        parameters.keepAlive.reset(parameters.song);  // deleted when the last player reading it has gone
    parameters.onEnd = EndOnce(run, std::move(parameters.onEnd));
    parameters.onEvent = UnlessAbandoned(run, std::move(parameters.onEvent));

    if (play(parameters, *run) == 1) {
        waitForEnd(parameters, *run, *timers);
        // Given up on, its player went with the newer run's play.
        if (current(*run))
            releasePlayer(*run);
    } else if (current(*run) && parameters.onEnd) {
        parameters.onEnd();
    }
    if (current(*run) && !run->abandoned.load() && parameters.onReleased)
        parameters.onReleased();
    // Nothing of the starter's is held once the worker counts as idle.
    parameters = PlaybackParameters{};
    {
        const std::lock_guard<std::mutex> lock(slotsMutex_);
        if (current(*run))
            idle_.store(1);
    }
    timers->threadEnded();
}

void MusicPlayer::joinFinishedWorker()
{
    if (!worker_.joinable())
        return;
    if (idle())
        worker_.join();
    else
        worker_.detach();  // given up on; it ends on its own
}

std::int32_t MusicPlayer::startWorker(PlaybackParameters parameters)
{
    // Held, not borrowed from the registry: another service may be installed
    // while this waits.
    const std::shared_ptr<TimerService> timers = CurrentTimerService();
    for (int count = 0; !idle();) {
        timers->sleepFor(kPollMs);
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

    lastRun_ = std::make_shared<PlaybackRun>();
    {
        const std::lock_guard<std::mutex> lock(slotsMutex_);
        lastRun_->number = run_.fetch_add(1) + 1;
        idle_.store(0);
    }
    timers->threadStarting();
    // The worker owns its parameters: nothing here keeps the song's copy
    // alive once the worker has let go of it.
    worker_ = std::thread([this, copy = std::move(parameters), run = lastRun_, timers]() mutable {
        runWorker(std::move(copy), run, timers);
    });

    // Also ends when a worker has finished: a short song can end, and its
    // player be released, between two looks, and a finished worker makes no
    // player, so waiting for one would never end.
    while (hasPlayer() == 0 && idle() == 0)
        timers->sleepFor(kPlayerPollMs);
    return hasPlayer();
}

std::int32_t MusicPlayer::stopPlayback()
{
    const std::shared_ptr<TimerService> timers = CurrentTimerService();
    // An idle controller has nothing to stop: the window's Stop may come just
    // after the song has ended by itself.
    for (int i = 0; hasPlayer() == 0 && !idle();) {
        timers->sleepFor(kPollMs);
        if (++i > kStopStepsForPlayer) {
            MidiF0Data::ReportError(0);
            break;
        }
    }
    if (idle())
        return 0;
    requestStop();
    for (int j = 0; !idle();) {
        timers->sleepFor(kPollMs);
        if (++j > kStopStepsBeforeKill) {
            killTimer();
            break;
        }
    }
    return 1;
}

void MusicPlayer::shutdown()
{
    const std::shared_ptr<TimerService> timers = CurrentTimerService();
    // A worker still making its player is not stopped at once: a stop would
    // report a player that is not there yet.
    for (int i = 0; !idle() && i < kStopStepsBeforeKill; ++i) {
        if (hasPlayer() == 1) {
            stopPlayback();
            break;
        }
        timers->sleepFor(kPollMs);
    }
    for (int i = 0; !idle() && i < kStopStepsBeforeKill; ++i)
        timers->sleepFor(kPollMs);
    if (!idle() && lastRun_)
        lastRun_->abandoned.store(true);
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
