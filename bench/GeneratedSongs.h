#pragma once

// Songs made in memory for the track benchmarks and the memory check: no
// files are read, and every run makes the same bytes.

#include <cstdint>
#include <string>
#include <vector>

#include "smf/SmfBuffer.h"

namespace sonrigo::bench {

// The largest file the player accepts: one byte short of the buffer.
inline constexpr std::int32_t kGeneratedSongBytes = SmfBuffer::kCapacity - 1;

struct GeneratedSong {
    std::vector<std::uint8_t> bytes;         // the whole file, header chunk included
    std::vector<std::int64_t> trackOffsets;  // where each "MTrk" chunk starts
    std::int32_t format = 0;
    std::int32_t division = 0;
    std::int64_t events = 0;      // events written, metas included: one record each when read
    std::int64_t noteEvents = 0;  // note-ons plus note-offs (velocity-0 note-ons)
    std::int64_t notes = 0;       // note-on/note-off pairs
    std::int64_t metas = 0;       // meta events, End of Track included
};

// Format 1, division 480, 63 tracks of about 15.6 kB each: overlapping notes
// (chords, legato, one pitch struck twice before release), note-offs written
// as velocity-0 note-ons under running status, a second channel per track
// interleaved with the first, some control changes, a track name per track
// and End of Track. About 300,000 note events in all.
GeneratedSong MakeManyTrackSong();

// Format 0, division 480, one track of about 490,000 events: long runs of
// channel pressure under running status (two bytes an event), broken every
// thousand events or so by a few overlapping notes.
GeneratedSong MakeSingleTrackSong();

// Writes the song's bytes to path, replacing any file there. False, with a
// message on stderr, when the file cannot be written whole.
bool WriteSongFile(const GeneratedSong& song, const std::string& path);

}  // namespace sonrigo::bench
