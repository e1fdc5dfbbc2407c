#pragma once

#include <cstdint>
#include <span>

namespace sonrigo {

class MidiEvent;
class MidiTrackData;

// Decodes the events of one track chunk into a track's list. Running status
// is shared by every chunk the process reads: a track whose first event omits
// its status uses the last status of the track read before it.
//
// Every read is checked: a byte past the chunk reads as 0, as from the
// zero-filled block the chunks were once copied into.
class TrackChunkReader {
public:
    // chunk: the whole chunk, its 8-byte header included.
    TrackChunkReader(MidiTrackData& track, std::span<const std::uint8_t> chunk);

    // Reads every event from offset 8 to the end of the chunk.
    void readEvents();

    static void ResetRunningStatus();

    // The largest delta time or text count a variable-length number yields;
    // longer numbers saturate here instead of overflowing.
    static constexpr std::int32_t kMaxVariableLength = 0x0FFFFFFF;

private:
    std::uint8_t byteAt(std::int64_t offset) const;
    std::int64_t size() const { return static_cast<std::int64_t>(chunk_.size()); }
    // A variable-length number starting at offset; leaves offset after it.
    std::int32_t readVariableLength(std::int64_t& offset) const;
    void readEvent();
    void decodeEvent(MidiEvent& event);
    // Decodes the event whose status byte is `status` at the read position
    // (for running status, one before the first data byte). Returns the bytes
    // the event takes from there, or 0 for a byte that is no status.
    std::int64_t decodeStatus(MidiEvent& event, std::uint8_t status);
    std::int64_t decodeMeta(MidiEvent& event);
    std::int64_t decodeText(MidiEvent& event);
    // Stores count chunk bytes from offset in the event's payload, growing a
    // buffer that is too small to exactly count bytes.
    void storeFromChunk(MidiEvent& event, std::int64_t offset, std::int64_t count) const;

    MidiTrackData& track_;
    std::span<const std::uint8_t> chunk_;
    std::int64_t position_ = 0;
    std::uint8_t currentStatus_ = 0;
    std::uint8_t lastStatus_ = 0;
};

}  // namespace sonrigo
