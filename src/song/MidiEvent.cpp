#include "song/MidiEvent.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace sonrigo {

MidiEvent& MidiEvent::operator=(const MidiEvent& other)
{
    if (this == &other)
        return *this;
    if (other.length >= static_cast<std::int32_t>(kDefaultPayloadSize))
        replaceWithBlock(static_cast<std::size_t>(other.length));
    const std::span<const std::uint8_t> source = other.payloadBytes();
    const std::span<std::uint8_t> target = writablePayload(source.size());
    std::copy_n(source.begin(), target.size(), target.begin());
    copyFields(other);
    return *this;
}

void MidiEvent::freeHeapBlock()
{
    FreeBlock(heap_);
    onHeap_ = false;
    std::fill(std::begin(inline_), std::end(inline_), std::uint8_t{0});
}

bool MidiEvent::takeBlock(std::size_t n)
{
    auto* block = static_cast<std::uint8_t*>(AllocZeroed(n + kBlockHeader));
    if (block == nullptr)
        return false;
    std::memcpy(block, &n, sizeof n);
    heap_ = block;
    onHeap_ = true;
    return true;
}

void MidiEvent::replaceWithBlock(std::size_t n)
{
    releaseBlock();  // first, as the old block may be large
    std::fill(std::begin(inline_), std::end(inline_), std::uint8_t{0});
    if (n == 0 || n > UINT32_MAX)
        return;
    takeBlock(n);
}

void MidiEvent::resizePayload(std::size_t n)
{
    if (n == kDefaultPayloadSize) {
        releaseBlock();
        std::fill(std::begin(inline_), std::end(inline_), std::uint8_t{0});
    } else {
        replaceWithBlock(n);
    }
}

std::span<std::uint8_t> MidiEvent::writablePayload(std::size_t n)
{
    n = std::min(n, payloadCapacity());
    if (n > storedBytes()) {
        std::uint8_t kept[kInlinePayload];
        std::copy(std::begin(inline_), std::end(inline_), kept);
        if (!takeBlock(kDefaultPayloadSize))
            return {};
        std::copy(std::begin(kept), std::end(kept), heapBytes());
    }
    return {onHeap() ? heapBytes() : inline_, n};
}

void MidiEvent::storePayload(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() > payloadCapacity())
        resizePayload(bytes.size());
    const std::span<std::uint8_t> target = writablePayload(bytes.size());
    std::copy_n(bytes.begin(), target.size(), target.begin());
    length = static_cast<std::int32_t>(bytes.size());
}

std::span<const std::uint8_t> MidiEvent::payloadBytes() const
{
    const std::size_t valid = length > 0 ? static_cast<std::size_t>(length) : 0;
    return {storage(), std::min(valid, storedBytes())};
}

std::uint8_t MidiEvent::payloadByte(std::size_t i) const
{
    return i < storedBytes() ? storage()[i] : 0;
}

void MidiEvent::classifyExclusive()
{
    // A byte past the valid payload matches nothing and reads as 0.
    const std::size_t valid = length > 0 ? static_cast<std::size_t>(length) : 0;
    auto at = [&](std::size_t i) -> int { return i < valid ? payloadByte(i) : -1; };
    auto valueAt = [&](std::size_t i) -> std::int32_t { return std::max(at(i), 0); };
    auto matches = [&](std::initializer_list<std::pair<std::size_t, int>> pattern) {
        return std::all_of(pattern.begin(), pattern.end(), [&](auto p) { return at(p.first) == p.second; });
    };
    // The part a GS part message addresses, from the low nibble of its address.
    auto gsPartChannel = [&]() -> std::int32_t {
        const int part = at(7) & 0x0F;
        if (part == 0)
            return 9;
        return part <= 9 ? part - 1 : part;
    };

    if (matches({{2, 0x7F}, {3, 0x7F}, {4, 0x04}, {5, 0x01}, {8, 0xF7}})) {
        subtype = ExclusiveClass::MasterVolume;
        value = valueAt(7);
    } else if (matches({{2, 0x7F}, {3, 0x7F}, {4, 0x04}, {5, 0x02}, {8, 0xF7}})) {
        subtype = ExclusiveClass::MasterBalance;
        value = valueAt(7);
    } else if (matches({{2, 0x41}, {3, 0x10}, {4, 0x42}, {5, 0x12}, {6, 0x40}})) {
        const int address = at(7);
        const int item = at(8);
        if (address == 0x00 && item == 0x04) {
            subtype = ExclusiveClass::MasterVolume;
            value = valueAt(9);
        } else if (address == 0x01) {
            // GS effect parameters 40 01 xx
            if (item >= 0x30 && item <= 0x35)
                subtype = 0x14 + (item - 0x30);
            else if (item >= 0x37 && item <= 0x40)
                subtype = 0x20 + (item - 0x37);
            else if (item >= 0x50 && item <= 0x59)
                subtype = 0x30 + (item - 0x50);
            else if (item == 0x5A)
                subtype = 0x40;
            else
                subtype = ExclusiveClass::None;
            value = valueAt(9);
        } else if (address == 0x02) {
            // GS equaliser parameters 40 02 xx
            subtype = (item >= 0x00 && item <= 0x03) ? 0x41 + item : ExclusiveClass::None;
            value = valueAt(9);
        } else if (address >= 0x10 && address <= 0x1F) {
            subtype = item == 0x15 ? ExclusiveClass::GsRhythmPart : ExclusiveClass::None;
            if (item == 0x15)
                channel = gsPartChannel();
            value = valueAt(9);
        } else if (address >= 0x40 && address <= 0x4F) {
            subtype = item == 0x20 ? ExclusiveClass::GsPartParameter : ExclusiveClass::None;
            if (item == 0x20)
                channel = gsPartChannel();
            value = valueAt(9);
        } else {
            subtype = ExclusiveClass::None;
        }
    } else if (matches({{2, 0x41}, {3, 0x10}, {4, 0x42}, {5, 0x12}, {6, 0x00}, {7, 0x00}, {8, 0x7F}})) {
        subtype = ExclusiveClass::GsSystemMode;
    } else if (matches({{2, 0x43}, {3, 0x79}, {4, 0x06}, {5, 0x7F}, {8, 0xF7}})) {
        subtype = ExclusiveClass::Yamaha;
    } else if (matches({{2, 0x7E}, {3, 0x7F}, {4, 0x09}, {5, 0x01}, {6, 0xF7}})) {
        subtype = ExclusiveClass::GmSystemOn;
    } else {
        subtype = ExclusiveClass::None;
    }
}

}  // namespace sonrigo
