#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/ErrorTable.h"

namespace sonrigo {

class MidiF0Data;
class MidiTrackData;
class SmfBuffer;

// A song held as a list of tracks: a format-1 file read track by track, or a
// format-0 song split into seventeen tracks (meta events, then one per
// channel). Built and used on the user-interface thread.
class MidiF1Data {
public:
    // A file may declare at most this many tracks; more shows a message and
    // only kTracksReadWhenTooMany are read.
    static constexpr std::int32_t kMaxTracks = 63;
    static constexpr std::int32_t kTracksReadWhenTooMany = 32;
    static constexpr std::int32_t kSplitTracks = 17;

    // Reads a file as format 1. A file that is not one is read as format 0
    // and split, unless fallBack is false (the format-0 reader's own
    // fallback). Either way the song ends with exactly one master volume
    // ensured (with its message when one had to be inserted).
    explicit MidiF1Data(const std::string& path, bool fallBack = true);
    // Splits a format-0 song in duration form into seventeen tracks.
    explicit MidiF1Data(const MidiF0Data& song);
    // The same for a song about to be released: its records are moved into
    // the seventeen tracks rather than copied, leaving its track empty.
    explicit MidiF1Data(MidiF0Data&& song);
    MidiF1Data(const MidiF1Data&) = delete;
    MidiF1Data& operator=(const MidiF1Data&) = delete;
    ~MidiF1Data();

    // The format-1 header rules: "MThd" at 0, or at 128 (then the bytes move
    // down and the size shrinks by 128); format 1; the declared track count,
    // clipped. Leaves the position after the header.
    std::int32_t ReadHeader(SmfBuffer& buffer);
    // Requires state 0: one track per declared chunk, each read where the
    // one before ended; state 1.
    void ReadTracks(SmfBuffer& buffer);
    // State 1 to 2: every track into duration form.
    void Prepare();
    // The first track's master volume, or -1; each further track that has
    // one shows a message.
    std::int32_t FindSongMasterVolume();
    // Inserts a master volume of 127 when the song has none.
    void EnsureMasterVolume(bool report);
    void SplitFrom(const MidiF0Data& song);
    // Requires state 2: every track merged into song's track, at this division.
    void MergeInto(MidiF0Data& song);

    static std::string_view ReportError(ErrorCode code);

    std::int32_t division() const { return division_; }
    std::int32_t state() const { return state_; }
    std::int32_t trackCount() const { return static_cast<std::int32_t>(tracks_.size()); }
    MidiTrackData& track(std::int32_t index) { return *tracks_[static_cast<std::size_t>(index)]; }
    const MidiTrackData& track(std::int32_t index) const { return *tracks_[static_cast<std::size_t>(index)]; }

private:
    bool requireState(std::int32_t needed) const;
    void split(const MidiF0Data& song, MidiF0Data* takeFrom);

    std::int32_t division_ = 0;
    std::int32_t state_ = 0;
    std::int32_t declaredTracks_ = 0;
    std::vector<std::unique_ptr<MidiTrackData>> tracks_;
};

}  // namespace sonrigo
