#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
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

TEST(MidiEvent, NewRecordsAreRemovedKindWithNoChannelAndAZeroedPayload)
{
    const MidiEvent plain;
    const MidiEvent delayed(480);
    EXPECT_EQ(plain.kind, EventKind::Removed);
    EXPECT_EQ(plain.channel, kNoChannel);
    EXPECT_EQ(plain.delta, 0);
    EXPECT_EQ(delayed.delta, 480);
    EXPECT_EQ(delayed.channel, 255);
    for (const MidiEvent* event : {&plain, &delayed}) {
        EXPECT_EQ(event->length, 0);
        EXPECT_EQ(event->data1 | event->duration | event->velocity | event->subtype | event->value, 0);
        ASSERT_EQ(event->payloadCapacity(), 256u);
        for (std::size_t i = 0; i < 256; ++i)
            ASSERT_EQ(event->payloadByte(i), 0);
    }
}

TEST(MidiEvent, CopyingALongPayloadGivesABufferOfExactlyThatLength)
{
    Bytes text(300);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<std::uint8_t>('a' + i % 26);
    MidiEvent source = WithPayload(EventKind::Meta, text);
    source.subtype = 1;
    source.delta = 12;
    source.channel = 255;

    const MidiEvent copy(source);
    EXPECT_EQ(copy.payloadCapacity(), 300u) << "no room is kept for a terminating zero";
    EXPECT_EQ(copy.length, 300);
    EXPECT_EQ(Bytes(copy.payloadBytes().begin(), copy.payloadBytes().end()), text);
    EXPECT_EQ(copy.kind, EventKind::Meta);
    EXPECT_EQ(copy.subtype, 1);
    EXPECT_EQ(copy.delta, 12);

    // A short record copied into one that holds the long buffer keeps that buffer.
    MidiEvent target(copy);
    MidiEvent shortOne = WithPayload(EventKind::NoteOn, {0x90, 0x3C, 0x40});
    shortOne.channel = 3;
    shortOne.data1 = 0x3C;
    shortOne.velocity = 0x40;
    target = shortOne;
    EXPECT_EQ(target.payloadCapacity(), 300u);
    EXPECT_EQ(target.length, 3);
    EXPECT_EQ(Bytes(target.payloadBytes().begin(), target.payloadBytes().end()), (Bytes{0x90, 0x3C, 0x40}));
    EXPECT_EQ(target.channel, 3);
    EXPECT_EQ(target.kind, EventKind::NoteOn);

    target = target;  // self-assignment changes nothing
    EXPECT_EQ(target.length, 3);
    EXPECT_EQ(target.payloadByte(0), 0x90);
}

TEST(MidiEvent, ResizingReplacesThePayloadWithZeros)
{
    MidiEvent event = WithPayload(EventKind::Meta, Bytes(20, 7));
    event.resizePayload(1000);
    ASSERT_EQ(event.payloadCapacity(), 1000u);
    for (std::size_t i = 0; i < 1000; ++i)
        ASSERT_EQ(event.payloadByte(i), 0);
    // A length beyond the buffer is never read past it.
    event.length = 5000;
    EXPECT_EQ(event.payloadBytes().size(), 1000u);
    event.length = -3;
    EXPECT_TRUE(event.payloadBytes().empty());
}

TEST(MidiEvent, WritingPastTheFirstBytesKeepsWhatWasStored)
{
    MidiEvent event;
    event.storePayload(Bytes{1, 2, 3});
    const std::span<std::uint8_t> room = event.writablePayload(40);
    ASSERT_EQ(room.size(), 40u);
    EXPECT_EQ(room[2], 3);
    EXPECT_EQ(room[39], 0);
    room[39] = 9;
    event.length = 40;
    EXPECT_EQ(event.payloadBytes()[39], 9);
    EXPECT_EQ(event.payloadCapacity(), 256u);
    EXPECT_EQ(event.writablePayload(1000).size(), 256u) << "never past the buffer";
}

struct ClassCase {
    Bytes body;  // the bytes after F0 and the count
    std::int32_t expectedClass;
    std::int32_t expectedValue;
    std::int32_t expectedChannel;
};

TEST(MidiEvent, ExclusiveClassesFollowTheTableInOrder)
{
    const ClassCase cases[] = {
        // Universal real-time master volume and balance.
        {{0x7F, 0x7F, 0x04, 0x01, 0x00, 0x64, 0xF7}, 0x01, 0x64, 255},
        {{0x7F, 0x7F, 0x04, 0x02, 0x00, 0x40, 0xF7}, 0x28, 0x40, 255},
        {{0x7F, 0x7F, 0x04, 0x03, 0x00, 0x40, 0xF7}, 0, 0, 255},
        // GS master volume 40 00 04.
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x04, 0x70, 0x4C, 0xF7}, 0x01, 0x70, 255},
        // GS effect parameters 40 01 xx: each range and its edges.
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x05, 0x00, 0xF7}, 0x14, 5, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x35, 0x05, 0x00, 0xF7}, 0x19, 5, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x36, 0x05, 0x00, 0xF7}, 0, 5, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x37, 0x06, 0x00, 0xF7}, 0x20, 6, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x3F, 0x06, 0x00, 0xF7}, 0x28, 6, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x40, 0x06, 0x00, 0xF7}, 0x29, 6, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x41, 0x06, 0x00, 0xF7}, 0, 6, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x50, 0x07, 0x00, 0xF7}, 0x30, 7, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x59, 0x07, 0x00, 0xF7}, 0x39, 7, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x5A, 0x08, 0x00, 0xF7}, 0x40, 8, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x5B, 0x08, 0x00, 0xF7}, 0, 8, 255},
        // GS equaliser 40 02 xx.
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x02, 0x00, 0x09, 0x00, 0xF7}, 0x41, 9, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x02, 0x03, 0x09, 0x00, 0xF7}, 0x44, 9, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x02, 0x04, 0x09, 0x00, 0xF7}, 0, 9, 255},
        // GS use-for-rhythm-part 40 1x 15: the part's channel from the low nibble.
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x00, 0xF7}, 0x12, 2, 10},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x02, 0x00, 0xF7}, 0x12, 2, 9},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x01, 0x00, 0xF7}, 0x12, 1, 0},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x19, 0x15, 0x01, 0x00, 0xF7}, 0x12, 1, 8},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x1F, 0x15, 0x01, 0x00, 0xF7}, 0x12, 1, 15},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x16, 0x02, 0x00, 0xF7}, 0, 2, 255},
        // GS part parameter 40 4x 20.
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x43, 0x20, 0x03, 0x00, 0xF7}, 0x45, 3, 2},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x40, 0x20, 0x03, 0x00, 0xF7}, 0x45, 3, 9},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x43, 0x21, 0x03, 0x00, 0xF7}, 0, 3, 255},
        // Any other GS 40 xx address, the GS reset among them: class 0, value untouched.
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, 0, 0, 255},
        {{0x41, 0x10, 0x42, 0x12, 0x40, 0x20, 0x15, 0x05, 0x00, 0xF7}, 0, 0, 255},
        // GS system mode set 00 00 7F.
        {{0x41, 0x10, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x00, 0x01, 0xF7}, 0x13, 0, 255},
        // Yamaha 43 79 06 7F.
        {{0x43, 0x79, 0x06, 0x7F, 0x01, 0x02, 0xF7}, 0x7F, 0, 255},
        // General MIDI System On.
        {{0x7E, 0x7F, 0x09, 0x01, 0xF7}, 0x09, 0, 255},
        {{0x7E, 0x7F, 0x09, 0x02, 0xF7}, 0, 0, 255},
        // Patterns cut short by the end of the message do not match.
        {{0x7F, 0x7F, 0x04, 0x01, 0x00, 0x64}, 0, 0, 255},
        {{0x7E, 0x7F, 0x09, 0x01}, 0, 0, 255},
    };
    for (const ClassCase& c : cases) {
        const MidiEvent event = Exclusive(c.body);
        std::string bytes;
        for (std::uint8_t b : c.body)
            bytes += " " + std::to_string(b);
        EXPECT_EQ(event.subtype, c.expectedClass) << "body" << bytes;
        EXPECT_EQ(event.value, c.expectedValue) << "body" << bytes;
        EXPECT_EQ(event.channel, c.expectedChannel) << "body" << bytes;
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
