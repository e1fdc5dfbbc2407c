#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "song/MidiEvent.h"

namespace sonrigo {
namespace {

using Bytes = std::vector<std::uint8_t>;

MidiEvent WithPayload(std::int32_t kind, const Bytes& bytes)
{
    MidiEvent event;
    event.kind = kind;
    event.storePayload(bytes);
    return event;
}

// An exclusive message as the track reader stores it: F0, the count, the body.
MidiEvent Exclusive(const Bytes& body)
{
    Bytes bytes(body.size() + 2);
    bytes[0] = 0xF0;
    bytes[1] = static_cast<std::uint8_t>(body.size());
    std::copy(body.begin(), body.end(), bytes.begin() + 2);
    MidiEvent event = WithPayload(EventKind::SysEx, bytes);
    event.classifyExclusive();
    return event;
}

TEST(MidiEvent, CopiesCarryALongPayloadWhole)
{
    Bytes text(300);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<std::uint8_t>('a' + i % 26);
    MidiEvent source = WithPayload(EventKind::Meta, text);
    std::tie(source.subtype, source.delta) = std::tuple(1, 12);
    const MidiEvent copy(source);
    EXPECT_EQ(Bytes(copy.payloadBytes().begin(), copy.payloadBytes().end()), text);
    EXPECT_EQ(std::tuple(int{copy.kind}, copy.subtype, copy.delta, copy.length), std::tuple(EventKind::Meta, 1, 12, 300));

    // A short record copied into one that holds a long buffer.
    MidiEvent target(copy);
    MidiEvent shortOne = WithPayload(EventKind::NoteOn, {0x90, 0x3C, 0x40});
    shortOne.channel = 3;
    target = shortOne;
    EXPECT_EQ(std::tuple(int{target.kind}, target.channel), std::tuple(EventKind::NoteOn, 3));
    EXPECT_EQ(Bytes(target.payloadBytes().begin(), target.payloadBytes().end()), (Bytes{0x90, 0x3C, 0x40}));
    target = target;  // self-assignment changes nothing
    EXPECT_EQ(std::tuple(target.length, target.payloadByte(0)), std::tuple(3, 0x90));
}

// The buffer grows to what is stored or asked for and is never read or
// written past its end; resizing zero-fills it, writing keeps what was stored.
TEST(MidiEvent, PayloadBufferGrowsZeroFilledAndIsNeverUsedPastItsEnd)
{
    MidiEvent event;
    event.storePayload(Bytes{1, 2, 3});
    const std::span<std::uint8_t> room = event.writablePayload(40);
    ASSERT_EQ(room.size(), 40u);
    EXPECT_EQ(std::tuple(room[2], room[39]), std::tuple(3, 0));
    room[39] = 9;
    event.length = 40;
    EXPECT_EQ(event.payloadBytes()[39], 9);
    EXPECT_EQ(std::tuple(event.payloadCapacity(), event.writablePayload(1000).size()), std::tuple(256u, 256u));

    event.resizePayload(1000);
    ASSERT_EQ(event.payloadCapacity(), 1000u);
    for (std::size_t i = 0; i < 1000; ++i)
        ASSERT_EQ(event.payloadByte(i), 0);
    event.length = 5000;
    EXPECT_EQ(event.payloadBytes().size(), 1000u);
    event.length = -3;
    EXPECT_TRUE(event.payloadBytes().empty());
}

// The body of a Roland GS data set to the address first, address, item; its checksum is never looked at.
Bytes Gs(std::uint8_t address, std::uint8_t item, std::uint8_t value, std::uint8_t first = 0x40)
{
    return {0x41, 0x10, 0x42, 0x12, first, address, item, value, 0x00, 0xF7};
}

TEST(MidiEvent, ExclusiveClassesFollowTheTableInOrder)
{
    constexpr std::int32_t no = kNoChannel;
    // The body after F0 and the count; then class, value and channel.
    const std::tuple<Bytes, std::int32_t, std::int32_t, std::int32_t> cases[] = {
        // Universal real-time master volume and balance.
        {{0x7F, 0x7F, 0x04, 0x01, 0x00, 0x64, 0xF7}, 0x01, 0x64, no},
        {{0x7F, 0x7F, 0x04, 0x02, 0x00, 0x40, 0xF7}, 0x28, 0x40, no},
        {{0x7F, 0x7F, 0x04, 0x03, 0x00, 0x40, 0xF7}, 0, 0, no},
        // GS master volume 40 00 04, then the effect parameters 40 01 xx: each range and its edges.
        {Gs(0x00, 0x04, 0x70), 0x01, 0x70, no},
        {Gs(0x01, 0x30, 5), 0x14, 5, no}, {Gs(0x01, 0x35, 5), 0x19, 5, no}, {Gs(0x01, 0x36, 5), 0, 5, no},
        {Gs(0x01, 0x37, 6), 0x20, 6, no}, {Gs(0x01, 0x3F, 6), 0x28, 6, no}, {Gs(0x01, 0x40, 6), 0x29, 6, no},
        {Gs(0x01, 0x41, 6), 0, 6, no},    {Gs(0x01, 0x50, 7), 0x30, 7, no}, {Gs(0x01, 0x59, 7), 0x39, 7, no},
        {Gs(0x01, 0x5A, 8), 0x40, 8, no}, {Gs(0x01, 0x5B, 8), 0, 8, no},
        // GS equaliser 40 02 xx.
        {Gs(0x02, 0x00, 9), 0x41, 9, no}, {Gs(0x02, 0x03, 9), 0x44, 9, no}, {Gs(0x02, 0x04, 9), 0, 9, no},
        // GS use-for-rhythm-part 40 1x 15: the part's channel from the low nibble.
        {Gs(0x1A, 0x15, 2), 0x12, 2, 10}, {Gs(0x10, 0x15, 2), 0x12, 2, 9}, {Gs(0x11, 0x15, 1), 0x12, 1, 0},
        {Gs(0x19, 0x15, 1), 0x12, 1, 8},  {Gs(0x1F, 0x15, 1), 0x12, 1, 15}, {Gs(0x1A, 0x16, 2), 0, 2, no},
        // GS part parameter 40 4x 20.
        {Gs(0x43, 0x20, 3), 0x45, 3, 2}, {Gs(0x40, 0x20, 3), 0x45, 3, 9}, {Gs(0x43, 0x21, 3), 0, 3, no},
        // Any other GS 40 xx address, the GS reset among them: class 0, value untouched.
        {Gs(0x00, 0x7F, 0x00), 0, 0, no}, {Gs(0x20, 0x15, 5), 0, 0, no},
        // GS system mode set 00 00 7F; Yamaha 43 79 06 7F; General MIDI System On.
        {Gs(0x00, 0x7F, 0x00, 0x00), 0x13, 0, no},
        {{0x43, 0x79, 0x06, 0x7F, 0x01, 0x02, 0xF7}, 0x7F, 0, no},
        {{0x7E, 0x7F, 0x09, 0x01, 0xF7}, 0x09, 0, no},
        {{0x7E, 0x7F, 0x09, 0x02, 0xF7}, 0, 0, no},
        // Patterns cut short by the end of the message do not match.
        {{0x7F, 0x7F, 0x04, 0x01, 0x00, 0x64}, 0, 0, no},
        {{0x7E, 0x7F, 0x09, 0x01}, 0, 0, no},
    };
    for (const auto& [body, expectedClass, expectedValue, expectedChannel] : cases) {
        const MidiEvent event = Exclusive(body);
        EXPECT_EQ(std::tuple(event.subtype, event.value, event.channel),
                  std::tuple(expectedClass, expectedValue, expectedChannel)) << testing::PrintToString(body);
    }
}

TEST(MidiEvent, StaleBytesBeyondTheLengthTakePartInNoMatch)
{
    // A buffer that once held a GM System On, now holding a shorter message.
    MidiEvent event = WithPayload(EventKind::SysEx, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    event.length = 4;
    event.classifyExclusive();
    EXPECT_EQ(event.subtype, 0);
}

}  // namespace
}  // namespace sonrigo
