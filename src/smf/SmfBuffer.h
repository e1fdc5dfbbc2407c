#pragma once

#include <cstdint>
#include <span>

#include "common/ZeroedBlock.h"

namespace sonrigo {

class ReadOnlyFile;

// The in-memory copy of a MIDI file, or of one of its track chunks: a
// zero-filled block of fixed capacity, the number of valid bytes in it and a
// read position. Reads past `size` within the block yield zeros; the checked
// accessors never touch memory outside the block.
//
// A thread keeps the blocks of its last buffers, zeroed again, for its next
// ones: a file loaded after another costs a memset of what the last one
// wrote, not a fresh allocation of the whole capacity.
class SmfBuffer {
public:
    // Files of this many bytes or more are refused or cut to this size.
    static constexpr std::int32_t kCapacity = 0xF0000;  // 983,040

    SmfBuffer();
    ~SmfBuffer();
    SmfBuffer(const SmfBuffer&) = delete;
    SmfBuffer& operator=(const SmfBuffer&) = delete;

    std::int32_t size() const { return size_; }
    // Clamped to 0 .. capacity().
    void setSize(std::int64_t size);
    std::int32_t position() const { return position_; }
    void setPosition(std::int32_t position) { position_ = position; }

    // 0 only when the block could not be allocated.
    std::int32_t capacity() const { return static_cast<std::int32_t>(block_.size()); }
    // The whole block, to write anywhere in (all of it is zeroed again when
    // the buffer goes).
    std::uint8_t* data();
    std::span<std::uint8_t> block();
    const std::uint8_t* data() const { return block_.data(); }
    // The valid bytes, 0 .. size, to read or to rewrite in place.
    std::span<const std::uint8_t> bytes() const { return block_.span().first(static_cast<std::size_t>(size_)); }
    std::span<std::uint8_t> bytes() { return block_.span().first(static_cast<std::size_t>(size_)); }
    // Reads the file from its current position into the block, at most the
    // capacity, and makes what it read the valid bytes. Returns the bytes
    // read, or -1 (size 0) on a read error.
    std::int64_t readFrom(ReadOnlyFile& file);

    // The byte at offset, or 0 for any offset outside the block.
    std::uint8_t byteAt(std::int64_t offset) const;
    // Whether count bytes from offset all lie within the valid bytes.
    bool holds(std::int64_t offset, std::int64_t count) const;

private:
    std::int32_t size_ = 0;
    std::int32_t position_ = 0;
    std::int32_t written_ = 0;  // the bytes from the start that may not be zero
    ZeroedBlock block_;
};

}  // namespace sonrigo
