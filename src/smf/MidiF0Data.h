#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/ErrorTable.h"
#include "playback/PlaybackCallbacks.h"

namespace sonrigo {

class MidiTrackData;
class SmfBuffer;

// A song held as one track. It reads format-0 files, and it is the playable
// form every song ends in: the sequencer walks one event list. Built and used
// on the user-interface thread; a play copy is then read by playback alone.
class MidiF0Data {
public:
    // Reads a file as format 0. A file that is not one is read as format 1
    // and merged into one track, unless fallBack is false (the format-1
    // reader's own fallback), in which case the song stays empty in state 0.
    explicit MidiF0Data(const std::string& path, bool fallBack = true);
    // An empty song whose state, and its track's, is trackState.
    explicit MidiF0Data(std::int32_t trackState);
    // A deep copy of a song in duration form (its track must be).
    MidiF0Data(const MidiF0Data& other);
    MidiF0Data& operator=(const MidiF0Data&) = delete;
    ~MidiF0Data();

    // The format-0 header rules, on buffer from its position: "MThd" (after a
    // MacBinary prefix, which is moved away; the size is kept), format 0,
    // exactly one track. Messages only when report is true. Stores the
    // division and leaves the position after the header.
    std::int32_t ReadHeader(SmfBuffer& buffer, bool report);
    // Requires state 0: reads the track chunk at the buffer's position; state 1.
    void ReadTrack(SmfBuffer& buffer);
    // State 1 to 2: the track into duration form.
    void Prepare();
    // State 2 to 1: the track back into on/off form.
    void Unprepare();
    void ChangeDivision(std::int32_t newDivision);
    // Ticks in one bar of the song's first time signature (384 without one).
    std::int32_t TicksPerBar() const;
    // Moves every event before the bar that holds the first note to tick 0;
    // returns the ticks cut. State 1 or 2.
    std::int32_t TrimLeadingBars();

    // What Play hands to playback: a copy at 96 ticks per quarter note, in
    // on/off form, its empty leading bars cut. cutOut receives the ticks cut.
    std::unique_ptr<MidiF0Data> MakePlayCopy(std::int32_t& cutOut) const;

    // Plays a copy made by MakePlayCopy: onEvent is first called once with
    // (0, ticks cut, no record), then the play controller's worker starts on
    // the copy. Returns when the worker has made its player. A copy left from
    // an earlier Play is let go of first. onReleased is called on the worker
    // once its player has been released (see PlaybackParameters).
    // User-interface thread.
    void Play(EndCallback onEnd, PerEventCallback onEvent, EndCallback onReleased = {});
    // Stops playback and lets go of the copy (the worker keeps its share
    // until its player is gone); waits one second more when it stopped a
    // playing worker. Returns 1.
    std::int32_t Stop();
    const MidiF0Data* playbackCopy() const { return playbackCopy_.get(); }

    static std::string_view ReportError(ErrorCode code);

    std::int32_t division() const { return division_; }
    void setDivision(std::int32_t division) { division_ = division; }
    std::int32_t state() const { return state_; }
    std::int32_t timeSignature() const { return timeSignature_; }
    MidiTrackData& track() { return *track_; }
    const MidiTrackData& track() const { return *track_; }

    static constexpr std::int32_t kPlayDivision = 96;
    static constexpr std::int32_t kDefaultTicksPerBar = 384;
    // What Stop waits after the worker has ended, for the output to settle.
    static constexpr std::uint32_t kSettleAfterStopMs = 1000;

private:
    bool requireState(std::int32_t needed) const;

    std::int32_t division_ = 0;
    std::int32_t state_ = 0;
    std::int32_t timeSignature_ = 0;  // 0: the track's own time signature applies
    std::unique_ptr<MidiTrackData> track_;
    std::shared_ptr<MidiF0Data> playbackCopy_;  // read by playback from Play until Stop
};

}  // namespace sonrigo
