#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "playback/PlaybackCallbacks.h"

namespace sonrigo {

class CallBackPlayer;
class MidiF0Data;
class MidiPlayer;

// What the starter hands the playback worker.
struct PlaybackParameters {
    MidiF0Data* song = nullptr;
    EndCallback onEnd;
    PerEventCallback onEvent;
    std::int32_t tickBase = 0;
    std::int32_t ownsSong = 0;  // 1: the worker deletes the song when done
    std::int32_t startTick = 0;
    std::int32_t endTick = -1;  // -1: play to the end
};

// The one play controller of the process: starts one sequencer at a time on
// a worker thread of its own, waits while it plays and releases it. Starting
// and stopping are hand-shakes of flags polled at fixed intervals on the
// timer service's clock, so that tests run them in virtual time.
//
// startWorker and stopPlayback run on the user-interface thread; the worker
// runs play, waitForEnd and releasePlayer; the sequencer's timer thread
// clears the playing flag.
class MusicPlayer {
public:
    static MusicPlayer& instance();

    // Creates the player for the song; 1 when its output device opened.
    std::int32_t play(MidiF0Data* song, PerEventCallback onEvent, std::int32_t tickBase, std::int32_t startTick,
                      std::int32_t endTick, EndCallback onEnd);
    void requestStop();
    void killTimer();
    std::int32_t hasPlayer() const;
    void waitForEnd(const PlaybackParameters& parameters);
    void releasePlayer();

    // The start hand-over: waits for the previous worker (asking it to stop
    // after 5 s, giving up after about 10 s with "Quit and restart!"), starts
    // the worker and waits until it has made its player. Returns hasPlayer.
    std::int32_t startWorker(PlaybackParameters parameters);
    // The stop hand-shake, less releasing the song's copy (the caller's):
    // asks the player to stop and waits for the worker, killing the timer
    // after about 2 s. Returns 1.
    std::int32_t stopPlayback();
    // Asks a playing worker to stop and waits for it, then joins it and
    // forgets a failed start; for the end of the program (and of a test).
    void shutdown();

    bool idle() const { return idle_.load() == 1; }

    static std::string_view ReportError(std::uint32_t code);

private:
    enum class Slot { Empty, Live, Attempted };

    MusicPlayer() = default;
    ~MusicPlayer();
    void runWorker(const PlaybackParameters& parameters);
    void joinFinishedWorker();
    void clearAttemptedSlots();


    std::atomic<std::int32_t> idle_{1};
    std::atomic<bool> callbackMarker_{false};
    mutable std::mutex slotsMutex_;  // the slots: worker fills and empties them, stop kills their timers
    std::unique_ptr<MidiPlayer> midiPlayer_;
    Slot midiPlayerSlot_ = Slot::Empty;
    std::unique_ptr<CallBackPlayer> callBackPlayer_;
    Slot callBackPlayerSlot_ = Slot::Empty;

    PlaybackParameters parameters_;  // the last start's, user-interface thread only
    std::thread worker_;             // the user-interface thread's to join
};

}  // namespace sonrigo
