#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/ScopedMessageCapture.h"
#include "song/MidiTrackData.h"
#include "support/SmfBytes.h"

namespace sonrigo {
namespace {

using test::Bytes;
using test::Chunk;
using Strings = std::vector<std::string>;
using Tracks = std::vector<std::unique_ptr<MidiTrackData>>;

const std::string kInternal = "MidiTrackData Internal Error";
const std::string kCatchAll = "MidiTrackData error.";
const std::string kNotMidi = "This is not a midi file.";

Bytes operator+(const Bytes& a, const Bytes& b) { return test::Join(a, b); }

Bytes Payload(const MidiEvent& e) { return Bytes(e.payloadBytes().begin(), e.payloadBytes().end()); }

// Every record as kind.subtype@delta, kind and subtype in hex; in detail also
// [channel:data1:velocity] where it has a channel, =value and /length where not 0.
std::string Describe(const MidiTrackData& track, bool detail = false)
{
    std::ostringstream out;
    for (std::int32_t i = 0; i < track.count(); ++i) {
        const MidiEvent& e = track.event(i);
        out << (i ? " " : "") << std::hex << int{e.kind} << '.' << e.subtype << '@' << std::dec << e.delta;
        if (detail && e.channel != kNoChannel)
            out << '[' << e.channel << ':' << int{e.data1} << ':' << int{e.velocity} << ']';
        if (detail && e.value != 0)
            out << '=' << e.value;
        if (detail && e.length != 0)
            out << '/' << e.length;
    }
    return out.str();
}

class TrackRead : public ::testing::Test {
protected:
    void SetUp() override { MidiTrackData::ResetRunningStatus(); }

    // Reads the events as the only chunk of a song.
    static std::unique_ptr<MidiTrackData> Read(const Bytes& events)
    {
        return std::make_unique<MidiTrackData>(Chunk(events), 0);
    }

    ScopedMessageCapture captured;
};

TEST_F(TrackRead, EventsAndWhatTheyReport)
{
    const Bytes metas{
        0x00, 0xFF, 0x00, 0x02, 0x00, 0x07, 0x00, 0xFF, 0x20, 0x01, 0x05, 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
        0x00, 0xFF, 0x54, 0x05, 0x60, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x58, 0x04, 0x03, 0x03, 0x18, 0x08,
        0x00, 0xFF, 0x59, 0x02, 0xFE, 0x01, 0x00, 0xFF, 0x09, 0x03, 'a', 'b', 'c', 0x00, 0xFF, 0x0A, 0x01, 0x00,
        0x00, 0xFF, 0x7F, 0x02, 0x43, 0x7B, 0x00, 0xFF, 0x2F, 0x00,
    };
    const Bytes gmOn{0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    const Bytes badNotes{0x00, 0x90, 0x80, 0x40, 0x00, 0x80, 0xFF, 0x40};
    const Strings badNote{"内部処理のエラーでノートナンバーが異常になりましたので０に修正しました。"};
    // Each chunk on its own, from no running status: its records and the messages shown.
    const std::tuple<Bytes, std::string, Strings> cases[] = {
        // Channel messages, a velocity of 0 read as note-off, running status, deltas of 2 and 3 bytes.
        {Chunk({0x00, 0x93, 0x3C, 0x40, 0x0A, 0x3C, 0x00, 0x00, 0x90, 0x3E, 0x00, 0x81, 0x00, 0x85, 0x3F, 0x20, 0x83,
                0xFF, 0x7F, 0xA2, 0x40, 0x11, 0x00, 0xB4, 0x07, 0x64, 0x00, 0xC6, 0x05, 0x00, 0xD7, 0x33, 0x00, 0xEF,
                0x01, 0x40}),
         "90.0@0[3:60:64]/3 80.0@10[3:60:0]/3 80.0@0[0:62:0]/3 80.0@128[5:63:32]/3 a0.0@65535[2:64:0]=17/3 "
         "b0.7@0[4:0:0]=100/3 c0.0@0[6:0:0]=5/2 d0.0@0[7:0:0]=51/2 e0.0@0[15:1:0]=64/3", {}},
        // Note numbers above 127: note and velocity 0, noticed once per track, and again for the next.
        {Chunk(badNotes), "90.0@0[0:0:0]/3 80.0@0[0:0:0]/3", badNote},
        {Chunk(badNotes), "90.0@0[0:0:0]/3 80.0@0[0:0:0]/3", badNote},
        // Meta events by type: lengths fixed by type, 3/8 packed as 0x0308, a device name (9) kept as an
        // instrument name (4), an unknown type read and dropped.
        {Chunk(metas), "ff.0@0/2 ff.20@0/1 ff.51@0=500000/3 ff.54@0/5 ff.58@0=776/4 ff.59@0/2 ff.4@0/3 0.a@0/1 "
                       "ff.7f@0/2 ff.2f@0", {}},
        // Bad values corrected: program 128, tempo 0, time signatures of exponent 0, numerator 0 and 2^8.
        {Chunk({0x00, 0xC0, 0x80}), "c0.0@0[0:0:0]/2", {"Wrong program change is modified to zero."}},
        {Chunk({0x00, 0xFF, 0x51, 0x03, 0x00, 0x00, 0x00}), "ff.51@0=500000/3", {"Tempo is wrong."}},
        {Chunk({0x00, 0xFF, 0x58, 0x04, 0x04, 0x00, 0x18, 0x08}), "ff.58@0=1028/4", {kCatchAll}},
        {Chunk({0x00, 0xFF, 0x58, 0x04, 0x00, 0x02, 0x18, 0x08}), "ff.58@0=1028/4", {kCatchAll}},
        {Chunk({0x00, 0xFF, 0x58, 0x04, 0x03, 0x08, 0x18, 0x08}), "ff.58@0=1028/4", {kCatchAll}},
        // Running status: an exclusive sets it, a meta leaves it; with none at all the byte is skipped.
        {Chunk(gmOn + Bytes{0x00, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x00, 0xFF, 0x2F, 0x00}), "f0.9@0/7 f0.0@0/6 ff.2f@0",
         {}},
        {Chunk({0x00, 0x92, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x01, 'x', 0x00, 0x3E, 0x40}),
         "90.0@0[2:60:64]/3 ff.1@0/1 90.0@0[2:62:64]/3", {}},
        {Chunk({0x00, 0x3C, 0x00, 0xFF, 0x2F, 0x00}), "0.0@0 ff.2f@0", {"Undefined Midi Event"}},
        // The song goes on after each chunk, but what follows a chunk reads as zeros; reading always ends.
        {Chunk({0x00, 0x90, 0x3C}, {0x7F}), "80.0@0[0:60:0]/3", {}},
        {Chunk({0x00, 0xFF, 0x51, 0x03, 0x07}, {0xA1, 0x20}), "ff.51@0=458752/3", {}},  // 0x070000
        {Chunk({0x00, 0xF0, 0x03, 0x41, 0x42, 0xF7}), "f0.0@0/5", {}},
        {Chunk({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x2F, 0x00}), "ff.2f@268435455", {}},
        {Chunk({0x00, 0xF0, 0x03, 0x41, 0x42, 0x43}), "f0.0@0/5", {kInternal}},
        {Chunk({0x00, 0xFF, 0x2F, 0x00, 0x81, 0x81}), "ff.2f@0 0.0@257", {kInternal, kInternal}},  // then nothing left
        {Chunk({0x00, 0xFF, 0x01, 0x05, 'a', 'b'}, {'c', 'd', 'e'}), "ff.1@0/2", {kInternal}},     // text cut
        {Chunk({0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}), "ff.1@0/1", {kInternal}},
    };
    Tracks read;
    for (const auto& [song, records, messages] : cases) {
        MidiTrackData::ResetRunningStatus();
        read.push_back(std::make_unique<MidiTrackData>(song, 0));
        EXPECT_EQ(Describe(*read.back(), true), records);
        EXPECT_EQ(captured.take(), messages) << records;
    }
    // Payloads: the metas' data, whole exclusives (one ending on the chunk's last byte), texts cut short.
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(Payload(read[3]->event(4)), (Bytes{0x03, 0x03, 0x18, 0x08}));
    EXPECT_EQ(Payload(read[3]->event(5)), (Bytes{0xFE, 0x01}));
    EXPECT_EQ(Payload(read[3]->event(6)), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(Payload(read[3]->event(8)), (Bytes{0x43, 0x7B}));
    EXPECT_EQ(Payload(read[9]->event(0)), Bytes(gmOn.begin() + 1, gmOn.end()));
    EXPECT_EQ(Payload(read[14]->event(0)), (Bytes{0xF0, 0x03, 0x41, 0x42, 0xF7}));
    EXPECT_EQ(Payload(read[18]->event(0)), (Bytes{'a', 'b'}));
    EXPECT_EQ(read[18]->event(0).payloadByte(2), 0) << "text ends with a zero byte";
    EXPECT_EQ(Payload(read[19]->event(0)), Bytes{'a'});
    read.clear();
    EXPECT_EQ(captured.take(), Strings{}) << "released without a word";

    // Running status carries over from the previous track read.
    Read({0x00, 0x92, 0x3C, 0x40});
    EXPECT_EQ(Describe(*Read({0x00, 0x3F, 0x40}), true), "90.0@0[2:63:64]/3");
    EXPECT_EQ(captured.take(), Strings{});
}

TEST_F(TrackRead, ChunkHeadersAndBrokenChunks)
{
    const Bytes endOnly{0x00, 0xFF, 0x2F, 0x00};
    Bytes tooLong = Chunk(endOnly);
    tooLong[7] = 5;
    // Song bytes, offset of the chunk, then the track's size, records and messages.
    const std::tuple<Bytes, std::int64_t, std::int32_t, std::string, Strings> cases[] = {
        {Bytes(14, 0x11) + Chunk(endOnly, {}, "XFKM"), 14, 12, "ff.2f@0", {}},
        {Chunk(endOnly, {}, "MTrx"), 0, 0, "", {kNotMidi}},
        {tooLong, 0, 0, "", {kInternal}},
        {{'M', 'T', 'r', 'k', 0x00, 0x00}, 0, 0, "", {kInternal}},
        {Chunk(endOnly), 12, 0, "", {kNotMidi}},  // nothing left at the offset
    };
    for (const auto& [song, offset, size, records, messages] : cases) {
        const MidiTrackData track(song, offset);
        EXPECT_EQ(std::tuple(track.size(), Describe(track), track.state()),
                  std::tuple(size, records, TrackState::OnOff));
        EXPECT_EQ(captured.take(), messages) << offset;
    }
}

TEST_F(TrackRead, LongEventsNoticedStoredInFullAndReportedOnRelease)
{
    // 300 bytes each: sequencer-specific data, which raises nothing, neither read nor released;
    // a text, an exclusive and an escape.
    Read(Bytes{0x00, 0xFF, 0x7F, 0x82, 0x2C} + Bytes(300, 's'));
    EXPECT_EQ(captured.take(), Strings{});
    const Bytes text = Bytes{0x00, 0xFF, 0x01, 0x82, 0x2C} + Bytes(300, 't');
    const Bytes exclusive = Bytes{0x00, 0xF0, 0x82, 0x2C} + Bytes(296, 0x01) + Bytes{0xF7};
    const Bytes escape = Bytes{0x00, 0xF7, 0xFF} + Bytes(255, 0x02);
    auto track = Read(text + exclusive + escape);
    EXPECT_EQ(captured.take(), Strings{"サイズが大きすぎるイベントが含まれています。"});
    ASSERT_EQ(Describe(*track), "ff.1@0 f0.0@0 f7.0@0");
    EXPECT_EQ(Payload(track->event(0)), Bytes(text.begin() + 5, text.end()));
    EXPECT_EQ(track->event(0).payloadByte(300), 0);
    EXPECT_EQ(Payload(track->event(1)), Bytes(exclusive.begin() + 1, exclusive.end()));
    EXPECT_EQ(Payload(track->event(2)), Bytes(escape.begin() + 1, escape.end()));
    EXPECT_EQ(std::tuple(track->event(0).payloadCapacity(), track->event(1).payloadCapacity(),
                         track->event(2).payloadCapacity()), std::tuple(301u, 300u, 257u));
    track.reset();
    EXPECT_EQ(captured.take(), (Strings{kCatchAll, kCatchAll, kCatchAll}));
}

TEST_F(TrackRead, LargeDataOncePerTrackWhileTheListGrows)
{
    // Reading up to the limit is silent; the record past it is reported, once per track.
    const std::int32_t limit = MidiTrackData::kEventLimit;
    Bytes events{0x00, 0xC0, 0x00};  // then running status: one record per two bytes
    events.resize(3 + 2 * static_cast<std::size_t>(limit - 1), 0x00);
    const auto track = Read(events);
    EXPECT_EQ(track->count(), limit);
    EXPECT_TRUE(captured.take().empty());
    EXPECT_EQ(track->append(std::make_unique<MidiEvent>(0)), limit + 1);
    EXPECT_EQ(captured.take(), Strings{"Large data"});
    EXPECT_EQ(track->append(std::make_unique<MidiEvent>(0)), limit + 2);
    EXPECT_TRUE(captured.take().empty());
}

}  // namespace
}  // namespace sonrigo
