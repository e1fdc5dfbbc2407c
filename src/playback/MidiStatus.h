#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "song/MidiEvent.h"

namespace sonrigo {

class MidiF0Data;

// The state a song leaves the MIDI output in up to some tick: the last
// program, pitch bend and controller values of every channel, the tempo and
// the time signature. Playback that starts in mid-song collects it from the
// records it skips and sends it before the first record it plays.
class MidiStatus {
public:
    static constexpr std::size_t kMaxEvents = 16 * 130 + 2;

    MidiStatus();

    struct Position {
        std::int32_t index = 0;         // first record at or after the start tick
        std::int32_t skippedTicks = 0;  // absolute tick of the record before it
    };
    // Stores every record of the song's track that lies before startTick.
    Position collect(const MidiF0Data& song, std::int32_t startTick);
    // Keeps what the record sets; a later record overwrites an earlier one.
    void store(const MidiEvent& event);
    // The records that restore the collected state, each with delta 0: per
    // channel its program, pitch bend and controllers 0 to 127, then the
    // tempo and the time signature.
    std::vector<MidiEvent> makeEvents() const;

private:
    static constexpr std::int32_t kUnset = -1;

    std::array<std::int32_t, 16> program_;
    std::array<std::int32_t, 16> bendHigh_;
    std::array<std::int32_t, 16> bendLow_;
    std::array<std::array<std::int32_t, 128>, 16> controller_;
    std::int32_t tempo_ = kUnset;
    std::int32_t timeSignature_ = kUnset;
};

}  // namespace sonrigo
