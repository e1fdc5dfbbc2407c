#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "common/ZeroedBlock.h"

namespace sonrigo {

// What a record is: the status byte without its channel for channel messages,
// plus two kinds no file contains.
namespace EventKind {
inline constexpr std::int32_t Removed = 0;  // deleted by the next compaction; never sent
inline constexpr std::int32_t Note = 0x10;  // a note with a duration (duration form only)
inline constexpr std::int32_t NoteOff = 0x80;
inline constexpr std::int32_t NoteOn = 0x90;
inline constexpr std::int32_t PolyPressure = 0xA0;
inline constexpr std::int32_t ControlChange = 0xB0;
inline constexpr std::int32_t ProgramChange = 0xC0;
inline constexpr std::int32_t ChannelPressure = 0xD0;
inline constexpr std::int32_t PitchBend = 0xE0;
inline constexpr std::int32_t SysEx = 0xF0;
inline constexpr std::int32_t SysExEscape = 0xF7;
inline constexpr std::int32_t Meta = 0xFF;
}  // namespace EventKind

// Exclusive classes found by MidiEvent::classifyExclusive (stored in subtype).
namespace ExclusiveClass {
inline constexpr std::int32_t None = 0;
inline constexpr std::int32_t MasterVolume = 0x01;
inline constexpr std::int32_t GmSystemOn = 0x09;
inline constexpr std::int32_t GsRhythmPart = 0x12;
inline constexpr std::int32_t GsSystemMode = 0x13;
inline constexpr std::int32_t MasterBalance = 0x28;
inline constexpr std::int32_t GsPartParameter = 0x45;
inline constexpr std::int32_t Yamaha = 0x7F;
}  // namespace ExclusiveClass

inline constexpr std::int32_t kNoChannel = 255;

// One decoded MIDI event. The record owns its payload buffer: logically 256
// zero-filled bytes from construction, replaced by a larger one only when a
// longer payload is stored. `length` counts the valid payload bytes; readers
// must use it, as a copied payload carries no terminating zero.
//
// Most records (channel messages, tempo, End of Track) store a few bytes or
// none, so the first kInlinePayload bytes live inside the record and the
// buffer is allocated only when more is written. Bytes never written read as
// zero, as in a fresh buffer.
class MidiEvent {
public:
    static constexpr std::size_t kDefaultPayloadSize = 256;
    static constexpr std::size_t kInlinePayload = 8;

    explicit MidiEvent(std::int32_t deltaTicks = 0) : delta(deltaTicks) {}
    MidiEvent(const MidiEvent& other)
    {
        // A copy of a song copies every record: those whose few payload bytes
        // are inline are copied here, the same as the assignment copies them.
        if (!other.onHeap_ && other.length < static_cast<std::int32_t>(kDefaultPayloadSize)) {
            copyFields(other);
            const std::size_t valid = other.length > 0 ? static_cast<std::size_t>(other.length) : 0;
            std::memcpy(inline_, other.inline_, valid < kInlinePayload ? valid : kInlinePayload);
        } else {
            *this = other;
        }
    }
    // Copies channel, delta, the payload bytes (a source length of 256 or more
    // first replaces the own buffer by one of exactly that length) and the
    // other fields. A smaller payload keeps the buffer it has.
    MidiEvent& operator=(const MidiEvent& other);
    // Moves are the lists' daily work (every insertion and merge moves
    // records), so they stay inline: the fields, and the block, if any.
    MidiEvent(MidiEvent&& other) noexcept { takeFrom(other); }
    MidiEvent& operator=(MidiEvent&& other) noexcept
    {
        if (this != &other) {
            releaseBlock();
            takeFrom(other);
        }
        return *this;
    }
    ~MidiEvent() { releaseBlock(); }

    // Replaces the payload by a fresh zero-filled buffer of n bytes; the old
    // contents are not kept.
    void resizePayload(std::size_t n);
    // The buffer's size: 256 unless a larger (or resized) one was stored.
    std::size_t payloadCapacity() const { return onHeap() ? heapSize() : kDefaultPayloadSize; }
    // Room to write n bytes from the start of the payload (n at most the
    // capacity; more is cut to it). Bytes past those already stored stay zero.
    std::span<std::uint8_t> writablePayload(std::size_t n);
    // Stores bytes at the start of the payload, growing a buffer too small for
    // them to exactly their size, and sets length.
    void storePayload(std::span<const std::uint8_t> bytes);
    // The valid payload bytes: `length` of them, never past the buffer.
    std::span<const std::uint8_t> payloadBytes() const;
    // One payload byte; 0 past the buffer.
    std::uint8_t payloadByte(std::size_t i) const;

    // Sets subtype (the exclusive class), value and, for the GS part
    // messages, channel from the payload of a SysEx record. Only bytes within
    // `length` take part in matching; a record that matches no pattern gets
    // class 0.
    void classifyExclusive();

    // Widest fields first, so that the record packs into 32 bytes. The narrow
    // ones hold what a file can give them: a status kind, data bytes, a meta
    // type or an exclusive class, a channel 0-15 or 255.
    std::int32_t delta = 0;    // ticks since the previous record of the same list
    std::int32_t duration = 0; // ticks (Note only)
    std::int32_t value = 0;    // controller value, program, pressure, bend MSB, tempo, packed time signature
    std::int32_t length = 0;   // valid payload bytes
    std::int16_t subtype = 0;  // controller number, meta type or exclusive class
    std::int16_t channel = kNoChannel;
    std::uint8_t kind = EventKind::Removed;
    std::uint8_t data1 = 0;    // note number; first data byte of a bend
    std::uint8_t velocity = 0;

private:
    // A heap block starts with its payload capacity; the payload follows.
    static constexpr std::size_t kBlockHeader = sizeof(std::size_t);

    bool onHeap() const { return onHeap_; }
    std::size_t heapSize() const
    {
        std::size_t size = 0;
        std::memcpy(&size, heap_, sizeof size);
        return size;
    }
    std::uint8_t* heapBytes() const { return heap_ + kBlockHeader; }
    std::size_t storedBytes() const { return onHeap() ? heapSize() : kInlinePayload; }
    const std::uint8_t* storage() const { return onHeap() ? heapBytes() : inline_; }
    // Replaces the storage by a zero-filled heap block of n bytes (n > 0), or
    // by the zeroed inline bytes when the block cannot be had (or n is 0).
    void replaceWithBlock(std::size_t n);
    // A zero-filled heap block of n payload bytes, or false.
    bool takeBlock(std::size_t n);
    void releaseBlock()
    {
        if (onHeap())
            freeHeapBlock();
    }
    void freeHeapBlock();
    // Every public field; the payload is the caller's.
    void copyFields(const MidiEvent& other) noexcept
    {
        delta = other.delta;
        duration = other.duration;
        value = other.value;
        length = other.length;
        subtype = other.subtype;
        channel = other.channel;
        kind = other.kind;
        data1 = other.data1;
        velocity = other.velocity;
    }
    void takeFrom(MidiEvent& other) noexcept
    {
        copyFields(other);
        onHeap_ = other.onHeap_;
        std::memcpy(inline_, other.inline_, kInlinePayload);  // the inline bytes or the block's address
        if (other.onHeap_) {
            other.onHeap_ = false;
            std::memset(other.inline_, 0, kInlinePayload);
        }
    }

    bool onHeap_ = false;  // the payload is in the heap block, not the inline bytes
    // A record is copied and moved millions of times in a load and a song
    // holds two lists of them while it plays, so it is kept at 32 bytes: the
    // payload is either the inline bytes or, once more is written, a heap
    // block (an AllocZeroed block: its capacity, then the bytes).
    union {
        std::uint8_t inline_[kInlinePayload] = {};
        std::uint8_t* heap_;
    };
};

static_assert(sizeof(MidiEvent) <= 32, "two lists of a song at the size limit must stay small");

}  // namespace sonrigo
