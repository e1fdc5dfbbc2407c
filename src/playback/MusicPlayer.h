#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "playback/PlaybackCallbacks.h"

namespace sonrigo {

class CallBackPlayer;
class MidiF0Data;
class MidiPlayer;
class TimerService;
struct PlaybackRun;

// What the starter hands the playback worker.
struct PlaybackParameters {
    MidiF0Data* song = nullptr;
    // Shares the ownership of what the player reads (the song): the worker
    // keeps it until its player has been destroyed, whenever the starter lets
    // go of its own reference.
    std::shared_ptr<const void> keepAlive;
    EndCallback onEnd;
    PerEventCallback onEvent;
    // Called on the worker once per Play, after its player has been released
    // (timer dead, MIDI output reset and closed) and after the end callback if
    // any, however playback ended; not for a run given up on ("Quit and
    // restart!") or abandoned by shutdown. The instruments release the notes
    // they still hold here.
    EndCallback onReleased;
    std::int32_t tickBase = 0;
    // 1, with no keepAlive: the worker deletes the song once no player reads it.
    std::int32_t ownsSong = 0;
    std::int32_t startTick = 0;
    std::int32_t endTick = -1;  // -1: play to the end
};

// The one play controller of the process: starts one sequencer at a time on
// a worker thread of its own, waits while it plays and releases it. Starting
// and stopping are hand-shakes of flags polled at fixed intervals on the
// timer service's clock, so that tests run them in virtual time. Every wait
// between threads is bounded, except the worker's for a timer callback still
// running: it never destroys a player under one.
//
// startWorker, stopPlayback and shutdown run on the user-interface thread;
// the worker makes and releases the player; the sequencer's timer thread
// clears the playing flag.
class MusicPlayer {
public:
    static MusicPlayer& instance();

    void requestStop();
    // Kills the live player's timer, waiting for a running callback only
    // briefly (the worker waits for it before it destroys the player), then
    // clears the playing flag.
    void killTimer();
    std::int32_t hasPlayer() const;

    // The start hand-over: waits for the previous worker (asking it to stop
    // after 5 s, giving up on it after about 10 s with "Quit and restart!"),
    // starts the worker and waits until it has made its player. Returns
    // hasPlayer.
    std::int32_t startWorker(PlaybackParameters parameters);
    // The stop hand-shake, less releasing the song's copy (the caller's):
    // asks the player to stop and waits for the worker, killing the timer
    // after about 2 s. Returns 1 when it asked a playing worker to stop, 0
    // when there was none: the controller was idle, or became so first (a
    // song that ended by itself), and then nothing is waited for or shown.
    std::int32_t stopPlayback();
    // Asks a playing worker to stop and waits for it, then joins it and
    // forgets a failed start; for the end of the program (and of a test). A
    // worker still busy then is given up on: no callback of its run starts
    // after this returns.
    void shutdown();

    bool idle() const { return idle_.load() == 1; }

    static std::string_view ReportError(std::uint32_t code);

private:
    enum class Slot { Empty, Live, Attempted };

    MusicPlayer() = default;
    ~MusicPlayer();
    // Creates the player for the song; 1 when its output device opened.
    std::int32_t play(const PlaybackParameters& parameters, const PlaybackRun& run);
    void waitForEnd(const PlaybackParameters& parameters, const PlaybackRun& run, TimerService& timers);
    void releasePlayer(const PlaybackRun& run);
    void runWorker(PlaybackParameters parameters, const std::shared_ptr<PlaybackRun>& run,
                   const std::shared_ptr<TimerService>& timers);
    // False once a later Play has started a run of its own.
    bool current(const PlaybackRun& run) const;
    void joinFinishedWorker();
    void clearAttemptedSlots();

    std::atomic<std::int32_t> idle_{1};
    std::atomic<std::uint64_t> run_{0};  // the number of the latest Play's run
    std::atomic<bool> callbackMarker_{false};
    // The slots and what goes with them; also orders a worker's last write
    // of the idle flag against the start of a newer run.
    mutable std::mutex slotsMutex_;
    std::unique_ptr<MidiPlayer> midiPlayer_;
    Slot midiPlayerSlot_ = Slot::Empty;
    std::unique_ptr<CallBackPlayer> callBackPlayer_;
    Slot callBackPlayerSlot_ = Slot::Empty;
    std::uint64_t slotsRun_ = 0;                  // the run whose worker filled the slots
    std::shared_ptr<const void> slotsKeepAlive_;  // what the live player reads; let go after it

    std::shared_ptr<PlaybackRun> lastRun_;  // user-interface thread only
    std::thread worker_;                    // the user-interface thread's to join
};

}  // namespace sonrigo
