#pragma once

#include <atomic>
#include <cstdint>

#include "platform/TimerService.h"

namespace sonrigo {

class MidiControler;
class MidiEvent;
class MidiF0Data;

// How the delay to the next record is found.
enum class SequencerTiming {
    // Every record at its exact time from the start of playback, from the
    // tempo events' microseconds per quarter note: no rounding loss adds up.
    Exact,
    // Each delay truncated to whole milliseconds at a tempo in whole beats per
    // minute, the remainder dropped, as the first players did. Songs run up to
    // about 1 % fast this way; kept only to measure that against Exact.
    Literal,
};

// What both players share while a song plays: one song plays at a time, so
// this exists once per process. Written by the player's preparation (on the
// playback worker) and its timer callbacks; the stop request by the
// user-interface thread, the playing flag read by the worker.
class SequencerState {
public:
    static SequencerState& instance();

    // Opens the output device, sends General MIDI System On, resets the
    // tempo and flags, chases the state up to startTick and works out the
    // first delay. Returns false when playback cannot start (the reason has
    // been shown); skippedTicks receives the ticks the start skips, opened
    // the device it opened (the player's, to give to closeDevice), or null.
    bool prepare(MidiF0Data& song, int deviceId, std::int32_t startTick, std::int32_t& skippedTicks,
                 MidiControler*& opened);
    // Sends the record at the current index, steps past it and returns the
    // delta of the next one, or -1 at the end of the track.
    std::int32_t advance(MidiEvent& record);
    // Sends one record to the output device as its kind says; a tempo event
    // sets the tempo.
    void send(MidiEvent& record);
    // Closes and releases a player's own output device, and forgets it if it
    // is still the current one: a player given up on ("Quit and restart!") may
    // go after a newer one has opened its own.
    void closeDevice(MidiControler* device);

    // After dispatching, with `delta` ticks to the next record: either that
    // record falls in this firing (SameFiring), or its timer has been started
    // (Scheduled: its identifier in timerOut, its deadline in firingOut; a
    // timer that cannot be had leaves the player playing with none until it
    // is stopped), or no delay can be had (Failed: playback has ended with
    // "General Error").
    enum class Step { SameFiring, Scheduled, Failed };
    Step scheduleNext(TimerService& timers, std::int32_t delta, std::int64_t firingUs, TimerCallback callback,
                      void* user, std::atomic<TimerId>& timerOut, std::atomic<std::int64_t>& firingOut);
    // Starts the clock of exact times: the first record is due at firstUs.
    void startClock(std::int64_t firstUs);

    MidiF0Data* song() const { return song_.load(); }
    bool deviceOpen() const { return device_.load() != nullptr; }
    std::int32_t currentIndex() const { return currentIndex_.load(); }
    bool atEnd() const;
    MidiEvent& currentRecord();

    std::uint32_t tempo() const { return tempo_.load(); }
    std::uint32_t tickPeriod() const { return tickPeriod_.load(); }
    std::uint32_t resolution() const { return resolution_.load(); }

    std::atomic<std::int32_t> stopRequest{0};
    std::atomic<std::int32_t> playing{0};
    // How many times "CallBackPlayer Error!" was due; shown only the first time.
    std::atomic<std::int32_t> errorCount{0};

    void setTiming(SequencerTiming timing) { timing_.store(timing); }
    SequencerTiming timing() const { return timing_.load(); }

    static constexpr std::uint32_t kStartTempo = 240;
    static constexpr std::int32_t kSpeed = 100;

private:
    SequencerState() = default;
    // When the record `delta` ticks after the one just dispatched is due, and
    // whether that falls within the millisecond of the firing due at
    // `firingUs`, so that the same firing dispatches it. False when no delay
    // can be computed (a division of 0).
    struct NextDue {
        std::int64_t deadlineUs = 0;
        bool sameFiring = false;
    };
    bool nextDue(std::int32_t delta, std::int64_t firingUs, NextDue& due);
    void setTempoFromMeta(std::int32_t microsecondsPerQuarter);
    // division x speed x tempo x 0.01, as the first players computed it.
    std::int64_t literalTicksPerMinute() const;

    std::atomic<MidiF0Data*> song_{nullptr};
    std::atomic<MidiControler*> device_{nullptr};
    std::atomic<std::int32_t> currentIndex_{0};
    std::atomic<std::uint32_t> tempo_{kStartTempo};
    std::atomic<std::int64_t> tempoUs_{60'000'000 / kStartTempo};  // microseconds per quarter in force
    std::atomic<std::uint32_t> tickPeriod_{0};
    std::atomic<std::uint32_t> resolution_{1};
    std::atomic<SequencerTiming> timing_{SequencerTiming::Exact};
    // Exact times: the first record's deadline, and the time since it of the
    // record last dispatched, in microseconds x division x speed so that no
    // division rounds until a deadline is taken from it.
    std::atomic<std::int64_t> originUs_{0};
    std::atomic<std::int64_t> elapsedScaled_{0};
};

}  // namespace sonrigo
