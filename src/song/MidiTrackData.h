#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/ErrorTable.h"
#include "common/PooledAllocator.h"
#include "song/MidiEvent.h"

namespace sonrigo {

class WarnOnceReporter;

// Track states.
// A track's records, in list order. Song-sized lists come from the pool of
// large blocks, so loading song after song reuses their memory.
using EventList = std::vector<MidiEvent, PooledAllocator<MidiEvent>>;

namespace TrackState {
inline constexpr std::int32_t Empty = -1;
inline constexpr std::int32_t Reading = 0;
inline constexpr std::int32_t OnOff = 1;     // notes are NoteOn/NoteOff pairs
inline constexpr std::int32_t Duration = 2;  // a note is one Note record with a duration
}  // namespace TrackState

// One track of a song: an ordered list of event records with relative delta
// times. List order is playing order; each record's delta counts from the
// record before it. The track owns its records.
//
// Tracks are read and converted on the user-interface thread. While a song
// plays, the sequencer reads the play copy's records and the playback callback
// may set a record's kind to Removed; nothing else touches that copy then.
class MidiTrackData {
public:
    // Capacity of the original fixed event list. Reaching it shows "Large
    // data" once per track; the list then goes on growing.
    static constexpr std::int32_t kEventLimit = 0x78000;  // 491,520
    static constexpr std::int32_t kChunkHeaderLength = 8;

    // Reads the track chunk ("MTrk" or "XFKM") that starts at offset inside a
    // song's bytes. Afterwards the track is in on/off form holding every event
    // read; a chunk with another identifier, or one that runs past the song's
    // bytes, leaves an empty track in on/off form and size 0.
    MidiTrackData(std::span<const std::uint8_t> songBytes, std::int64_t offset);
    // An empty track in state Empty, or in the given state.
    MidiTrackData();
    explicit MidiTrackData(std::int32_t state);
    // Copies every record of a track in duration form; the copy is in
    // duration form. Any other source shows "MidiTrackData Internal Error" and
    // the copy stays empty.
    MidiTrackData(const MidiTrackData& other);
    // The same copy with room for `spare` records more, so that growing it by
    // up to that many (a note-off per note) moves none of them.
    MidiTrackData(const MidiTrackData& other, std::size_t spare);
    MidiTrackData& operator=(const MidiTrackData&) = delete;
    // Releases every record. Each record whose payload length is 256 or more
    // shows "MidiTrackData error.", except sequencer-specific metas (subtype 0x7F).
    ~MidiTrackData();

    // Bytes of the chunk read, its 8-byte header included; 0 when none was.
    std::int32_t size() const { return size_; }
    std::int32_t count() const { return static_cast<std::int32_t>(events_.size()); }
    std::int32_t state() const { return state_; }
    void setState(std::int32_t state) { state_ = state; }
    // References stay valid until the list changes.
    MidiEvent& event(std::int32_t index) { return events_[static_cast<std::size_t>(index)]; }
    const MidiEvent& event(std::int32_t index) const { return events_[static_cast<std::size_t>(index)]; }

    // List primitives. All keep the relative-delta invariant unless stated.

    // Makes room for `records` records in all, so that appending up to there
    // moves none of them.
    void reserve(std::size_t records) { events_.reserve(records); }
    // Stores the record after the last one; returns the new count.
    std::int32_t append(MidiEvent record);
    std::int32_t append(std::unique_ptr<MidiEvent> record) { return append(std::move(*record)); }
    // Mode 2 inserts before the record at index, any other mode after it.
    // Deltas are not adjusted.
    void insertAt(std::int32_t index, std::int32_t mode, MidiEvent record);
    void insertAt(std::int32_t index, std::int32_t mode, std::unique_ptr<MidiEvent> record)
    {
        insertAt(index, mode, std::move(*record));
    }
    // Removes and releases the record at index; its delta is added to the
    // record that follows, if any.
    void removeAt(std::int32_t index);
    // Exchanges two records; each position keeps the delta it had.
    void swap(std::int32_t i, std::int32_t j);
    void clear();
    // Removes every Removed record, passing its delta on to the record after
    // it. A delta that thereby becomes negative shows
    // "MidiTrackData Internal Error".
    void compact();
    // Removes (as removeAt) the first Meta record of that type (low 8 bits
    // compared), or every one when all is true. Returns whether one was removed.
    bool removeMeta(std::int32_t type, bool all);
    // The payload of the first Meta record of that type, or nothing (returns
    // false, out empty).
    bool findMetaText(std::int32_t type, std::string& out) const;
    // A Meta record of that type holding text, before the first record. A text
    // of 128 characters or more shows "MidiTrackData error." first.
    void insertMetaTextAtStart(std::int32_t type, std::string_view text);
    // The packed time signature of the first time-signature record.
    bool findTimeSignature(std::int32_t& out) const;
    // Channel of the first record that has one, exclusive messages aside; 255 if none.
    std::int32_t firstChannel() const;
    // Appends an End of Track (FF 2F 00) unless the last record is one.
    void appendEndOfTrack(std::int32_t delta);
    // Leaves exactly one End of Track, in the last position, and returns it.
    MidiEvent& normaliseEndOfTrack();

    // Whole-track conversions. Each checks the state it needs and, on a
    // mismatch, shows "MidiTrackData Internal Error" and changes nothing.

    // On/off form: every NoteOn with velocity 0 becomes a NoteOff.
    void noteOnZeroToNoteOff();
    // On/off form to duration form: each NoteOn pairs with the first later
    // NoteOff of its channel and note; unpaired notes and note-offs go.
    void toDurationForm();
    // Duration form to on/off form: a NoteOff (velocity 64) at each note's
    // end, End of Track moved last, then orderNoteOffsFirst.
    void toOnOffForm();
    // On/off form: a NoteOff sharing its tick with an earlier NoteOn moves in
    // front of the nearest such NoteOn.
    void orderNoteOffsFirst();
    // Duration form: deltas and durations from one division to another, the
    // rounding loss of each delta carried into the next. A duration that
    // becomes 0 is removed (mode 1) or set to 1 (any other mode); returns 1 if
    // that happened. Divisions must be positive.
    std::int32_t rescale(std::int32_t from, std::int32_t to, std::int32_t mode);
    // Duration form: merges the other track into this one; at equal times the
    // other track's records come first. Mode 1 joins the two track names.
    void mergeTrack(const MidiTrackData& other, std::int32_t mode);
    // Duration form: merges all tracks into this one; records at one tick come
    // round by round in track order. No tracks shows "MidiTrackData error.".
    void mergeTracks(std::span<const MidiTrackData* const> tracks);
    // What merging each track into this one with mergeTrack(track, 1), from
    // the last track to the first, gives, in one pass instead of one merge per
    // track: records by time, at one tick in track order, the joined name of
    // all tracks after the first track's records at tick 0.
    void mergeTracksFromLast(std::span<const MidiTrackData* const> tracks);
    // The same for tracks about to be released: their records are moved
    // rather than copied, and the tracks are left empty.
    void mergeTracksFromLastMoving(std::span<MidiTrackData* const> tracks);

    // Moves every record out, leaving the track empty. Reports long payloads
    // as releasing them would, since the records leave this track.
    EventList takeEvents();
    // Value of the last master-volume exclusive, or -1. A second one shows
    // the warn-once notice.
    std::int32_t findMasterVolume() const;
    // A universal master-volume exclusive before the first record.
    void insertMasterVolume(std::int32_t volume);

    // The track's error texts (the notices included). Safe from any thread.
    static std::string_view ReportError(ErrorCode code);
    // The process-wide warn-once notices; cleared whenever a chunk is read.
    static WarnOnceReporter& Notices();
    // Running status is shared by every track the process reads, from one
    // track to the next. This puts it back to its state at program start.
    static void ResetRunningStatus();

private:
    friend class TrackChunkReader;

    bool requireState(std::int32_t needed) const;
    // Both mergeTracksFromLast: takes track k's records (a copy, or the
    // records themselves) when `take` is called with k.
    template <typename Take>
    void mergeFromLast(std::span<const MidiTrackData* const> tracks, Take take);
    // Removes the records whose flag is set, passing each one's delta on to
    // the record after it, as removeAt does.
    void removeFlagged(const std::vector<bool>& flagged);
    void reportLongPayloads() const;

    std::int32_t size_ = 0;
    std::int32_t state_ = TrackState::Empty;
    bool largeDataShown_ = false;
    // Records by value: one allocation per list, not one per record.
    EventList events_;
};

}  // namespace sonrigo
