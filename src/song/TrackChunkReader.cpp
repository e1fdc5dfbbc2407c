#include "song/TrackChunkReader.h"

#include <algorithm>
#include <atomic>

#include "common/ErrorTexts.h"
#include "common/WarnOnceReporter.h"
#include "song/MidiTrackData.h"

namespace sonrigo {
namespace {

// Running status survives from one chunk to the next, across tracks, songs
// and files, as it always has. Loaded when a chunk starts, stored when it ends.
std::atomic<std::uint8_t> sharedCurrentStatus{0};
std::atomic<std::uint8_t> sharedLastStatus{0};

constexpr std::int64_t kMaxPayloadBeforeNotice = 256;

}  // namespace

TrackChunkReader::TrackChunkReader(MidiTrackData& track, std::span<const std::uint8_t> chunk)
    : track_(track), chunk_(chunk)
{
}

void TrackChunkReader::ResetRunningStatus()
{
    sharedCurrentStatus = 0;
    sharedLastStatus = 0;
}

void TrackChunkReader::readEvents()
{
    currentStatus_ = sharedCurrentStatus.load(std::memory_order_relaxed);
    lastStatus_ = sharedLastStatus.load(std::memory_order_relaxed);
    position_ = MidiTrackData::kChunkHeaderLength;
    while (position_ < size())
        readEvent();
    sharedCurrentStatus.store(currentStatus_, std::memory_order_relaxed);
    sharedLastStatus.store(lastStatus_, std::memory_order_relaxed);
}

// The bounds check compares positions, not the chunk's bytes: a fuzzer gains
// nothing from tracing it, and it runs for every byte read.
#if defined(__clang__)
__attribute__((no_sanitize("coverage")))
#endif
std::uint8_t TrackChunkReader::byteAt(std::int64_t offset) const
{
    return offset >= 0 && offset < size() ? chunk_[static_cast<std::size_t>(offset)] : 0;
}

std::int32_t TrackChunkReader::readVariableLength(std::int64_t& offset) const
{
    std::int64_t value = 0;
    while ((byteAt(offset) & 0x80) != 0) {
        value = std::min<std::int64_t>((value + byteAt(offset) - 128) * 128, kMaxVariableLength);
        ++offset;
        if (offset >= size() - 1) {
            MidiTrackData::ReportError(MidiTrackDataError::Internal);
            break;
        }
    }
    value = std::min<std::int64_t>(value + byteAt(offset), kMaxVariableLength);
    ++offset;
    return static_cast<std::int32_t>(value);
}

void TrackChunkReader::readEvent()
{
    const std::int32_t delta = readVariableLength(position_);
    MidiEvent event(delta);
    decodeEvent(event);
    track_.append(std::move(event));
}

void TrackChunkReader::decodeEvent(MidiEvent& event)
{
    if (position_ >= size()) {
        MidiTrackData::ReportError(MidiTrackDataError::Internal);
        return;
    }
    const std::int64_t start = position_;
    currentStatus_ = byteAt(position_);
    std::int64_t taken = decodeStatus(event, currentStatus_);
    if (taken == 0) {
        // Running status: the byte read was data. Step back one so that the
        // data bytes sit where the status table expects them.
        currentStatus_ = lastStatus_;
        --position_;
        taken = decodeStatus(event, currentStatus_);
        if (taken == 0) {
            MidiTrackData::ReportError(MidiTrackDataError::UndefinedEvent);
            // Nothing decodes here: skip the byte so that reading moves on.
            position_ = start + 1;
            lastStatus_ = currentStatus_;
            return;
        }
    }
    if (event.length >= kMaxPayloadBeforeNotice && event.subtype != 0x7F)
        MidiTrackData::Notices().report(MidiTrackDataError::OversizedEvent);
    // Exclusive messages stored their bytes while decoding; metas keep their data.
    if (event.kind != EventKind::Meta && event.kind != EventKind::SysEx)
        storeFromChunk(event, position_, event.length);
    position_ += taken;
    if (currentStatus_ != 0xFF)
        lastStatus_ = currentStatus_;
}

std::int64_t TrackChunkReader::decodeStatus(MidiEvent& event, std::uint8_t status)
{
    const std::uint8_t b1 = byteAt(position_ + 1);
    const std::uint8_t b2 = byteAt(position_ + 2);
    const std::int32_t channel = status & 0x0F;
    auto channelMessage = [&](std::int32_t kind, std::int32_t length) {
        event.kind = kind;
        event.channel = channel;
        event.length = length;
    };
    auto checkNoteNumber = [&] {
        if (b1 > 127) {
            MidiTrackData::Notices().report(MidiTrackDataError::WrongNoteNumber);
            event.data1 = 0;
            event.velocity = 0;
        }
    };

    switch (status & 0xF0) {
    case 0x90:
        channelMessage(b2 == 0 ? EventKind::NoteOff : EventKind::NoteOn, 3);
        event.data1 = b1;
        event.velocity = b2;
        if (b2 != 0)
            checkNoteNumber();
        return 3;
    case 0x80:
        channelMessage(EventKind::NoteOff, 3);
        event.data1 = b1;
        event.velocity = b2;
        checkNoteNumber();
        return 3;
    case 0xB0:
        channelMessage(EventKind::ControlChange, 3);
        event.subtype = b1;
        event.value = b2;
        return 3;
    case 0xC0:
        channelMessage(EventKind::ProgramChange, 2);
        event.value = b1;
        if (b1 >= 128) {
            MidiTrackData::ReportError(MidiTrackDataError::WrongProgramChange);
            event.value = 0;
        }
        return 2;
    case 0xD0:
        channelMessage(EventKind::ChannelPressure, 2);
        event.value = b1;
        return 2;
    case 0xE0:
        channelMessage(EventKind::PitchBend, 3);
        event.data1 = b1;
        event.value = b2;
        return 3;
    case 0xA0:
        channelMessage(EventKind::PolyPressure, 3);
        event.data1 = b1;
        event.value = b2;
        return 3;
    default:
        break;
    }

    if (status == 0xF0) {
        // Up to and including the first F7; the count after F0 is not trusted.
        std::int64_t end = position_;
        while (byteAt(end) != 0xF7) {
            if (end >= size() - 1) {
                MidiTrackData::ReportError(MidiTrackDataError::Internal);
                break;
            }
            ++end;
        }
        const std::int64_t length = end - position_ + 1;
        event.kind = EventKind::SysEx;
        storeFromChunk(event, position_, length);
        event.length = static_cast<std::int32_t>(length);
        event.classifyExclusive();
        return length;
    }
    if (status == 0xF7) {
        event.kind = EventKind::SysExEscape;
        event.length = b1 + 2;
        return event.length;
    }
    if (status == 0xFF)
        return decodeMeta(event);

    event.kind = EventKind::Removed;
    event.length = 0;
    return 0;
}

std::int64_t TrackChunkReader::decodeMeta(MidiEvent& event)
{
    const std::uint8_t type = byteAt(position_ + 1);
    event.kind = EventKind::Meta;
    event.subtype = type;
    switch (type) {
    case 0x00:  // sequence number
        event.length = 2;
        return 5;
    case 0x20:  // channel prefix
        event.length = 1;
        return 4;
    case 0x2F:  // End of Track
        event.length = 0;
        return 3;
    case 0x51: {  // tempo: the standard three bytes, whatever the length byte says
        std::int32_t tempo = byteAt(position_ + 3) << 16 | byteAt(position_ + 4) << 8 | byteAt(position_ + 5);
        if (tempo == 0) {
            MidiTrackData::ReportError(MidiTrackDataError::WrongTempo);
            tempo = 500000;
        }
        event.value = tempo;
        event.length = 3;
        return 6;
    }
    case 0x54:  // SMPTE offset
        event.length = 5;
        return 8;
    case 0x58: {  // time signature
        const std::uint8_t numerator = byteAt(position_ + 3);
        const std::uint8_t exponent = byteAt(position_ + 4);
        // A denominator past 2^7 would not fit the packed form's low byte.
        if (numerator == 0 || exponent == 0 || exponent >= 8) {
            MidiTrackData::ReportError(0);
            event.value = 0x0404;
        } else {
            event.value = numerator * 256 + (1 << exponent);
        }
        storeFromChunk(event, position_ + 3, byteAt(position_ + 2));
        event.length = 4;
        return 7;
    }
    case 0x59:  // key signature
        storeFromChunk(event, position_ + 3, 2);
        event.length = 2;
        return 5;
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x7F:
        return decodeText(event);
    case 0x09: {  // device name, kept as an instrument name
        const std::int64_t taken = decodeText(event);
        event.subtype = 4;
        return taken;
    }
    default: {  // read past like text, then dropped
        const std::int64_t taken = decodeText(event);
        event.kind = EventKind::Removed;
        return taken;
    }
    }
}

std::int64_t TrackChunkReader::decodeText(MidiEvent& event)
{
    std::int64_t dataStart = position_ + 2;
    std::int64_t count = readVariableLength(dataStart);
    const std::int64_t left = std::max<std::int64_t>(size() - dataStart, 0);
    if (count > left) {
        MidiTrackData::ReportError(MidiTrackDataError::Internal);
        count = left;
    }
    if (count > 255)
        event.resizePayload(static_cast<std::size_t>(count + 1));
    // The byte after the text stays zero: a fresh buffer is zero-filled.
    storeFromChunk(event, dataStart, count);
    event.length = static_cast<std::int32_t>(count);
    return count + (dataStart - (position_ + 2)) + 2;
}

void TrackChunkReader::storeFromChunk(MidiEvent& event, std::int64_t offset, std::int64_t count) const
{
    if (count <= 0)
        return;
    if (static_cast<std::uint64_t>(count) > event.payloadCapacity())
        event.resizePayload(static_cast<std::size_t>(count));
    const std::span<std::uint8_t> target = event.writablePayload(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < target.size(); ++i)
        target[i] = byteAt(offset + static_cast<std::int64_t>(i));
}

}  // namespace sonrigo
