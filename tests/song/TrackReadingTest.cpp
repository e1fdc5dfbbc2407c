#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "song/MidiTrackData.h"
#include "support/CaptureMessages.h"
#include "support/TempDir.h"

namespace sonrigo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;
using Tracks = std::vector<std::unique_ptr<MidiTrackData>>;

const std::string kInternal = "MidiTrackData Internal Error";
const std::string kCatchAll = "MidiTrackData error.";
const std::string kNotMidi = "This is not a midi file.";

// A track chunk around the event bytes, optionally followed by more song bytes.
Bytes Chunk(const Bytes& events, const Bytes& after = {}, const char* id = "MTrk")
{
    Bytes chunk(id, id + 4);
    for (int shift : {24, 16, 8, 0})
        chunk.push_back(static_cast<std::uint8_t>(events.size() >> shift));
    chunk.insert(chunk.end(), events.begin(), events.end());
    chunk.insert(chunk.end(), after.begin(), after.end());
    return chunk;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Delta 0, then a text-like meta event of n letters (128 <= n < 16384).
Bytes LongMeta(std::uint8_t type, std::size_t n)
{
    Bytes bytes{0x00, 0xFF, type, static_cast<std::uint8_t>(0x80 | (n >> 7)), static_cast<std::uint8_t>(n & 0x7F)};
    for (std::size_t i = 0; i < n; ++i)
        bytes.push_back(static_cast<std::uint8_t>('a' + i % 26));
    return bytes;
}

Bytes Payload(const MidiEvent& e) { return Bytes(e.payloadBytes().begin(), e.payloadBytes().end()); }

std::unique_ptr<MidiEvent> Record(std::int32_t kind, std::int32_t delta)
{
    auto record = std::make_unique<MidiEvent>(delta);
    record->kind = kind;
    return record;
}

// "kind.subtype@delta" of every record, kind and subtype in hex.
std::string Describe(const MidiTrackData& track)
{
    std::ostringstream out;
    for (std::int32_t i = 0; i < track.count(); ++i)
        out << (i ? " " : "") << std::hex << track.event(i).kind << '.' << track.event(i).subtype << '@' << std::dec
            << track.event(i).delta;
    return out.str();
}

// The track chunks of a file as the song readers walk them: "MThd" at 0 or
// after a 128-byte prefix, chunks from offset 14, each after the one before.
Tracks ReadSong(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::span<const std::uint8_t> song(file);
    const auto headerAt = [&](std::size_t at) {
        return song.size() >= at + 4 && std::equal(song.begin() + at, song.begin() + at + 4, "MThd");
    };
    Tracks tracks;
    if (!headerAt(0) && !headerAt(128))
        return tracks;
    song = song.subspan(headerAt(0) ? 0 : 128);
    const std::size_t declared = song.size() >= 12 ? ((song[10] << 8) | song[11]) : 0;
    for (std::int64_t offset = 14; tracks.size() < std::min<std::size_t>(declared, 200);) {
        tracks.push_back(std::make_unique<MidiTrackData>(song, offset));
        if (tracks.back()->size() == 0)
            break;
        offset += tracks.back()->size();
    }
    return tracks;
}

class TrackRead : public ::testing::Test {
protected:
    void SetUp() override { MidiTrackData::ResetRunningStatus(); }

    // Reads the events as the only chunk of a song.
    static std::unique_ptr<MidiTrackData> Read(const Bytes& events)
    {
        return std::make_unique<MidiTrackData>(Chunk(events), 0);
    }

    test::CaptureMessages captured;
};
using TrackReadEvents = TrackRead;
using TrackReadErrors = TrackRead;
using TrackReadNotices = TrackRead;
using TrackReadList = TrackRead;
using TrackReadCorpus = TrackRead;

TEST_F(TrackReadEvents, ChannelMessagesRunningStatusAndDeltaTimes)
{
    const auto track = Read({
        0x00, 0x93, 0x3C, 0x40, 0x0A, 0x3C, 0x00,  // note on, then running status with velocity 0
        0x00, 0x90, 0x3E, 0x00, 0x81, 0x00, 0x85, 0x3F, 0x20, 0x83, 0xFF, 0x7F, 0xA2, 0x40, 0x11,
        0x00, 0xB4, 0x07, 0x64, 0x00, 0xC6, 0x05, 0x00, 0xD7, 0x33, 0x00, 0xEF, 0x01, 0x40,
    });
    // kind, delta, channel, data1, velocity, subtype, value, length
    using Fields = std::array<std::int32_t, 8>;
    const Fields expected[] = {
        {0x90, 0, 3, 0x3C, 0x40, 0, 0, 3},   {0x80, 10, 3, 0x3C, 0, 0, 0, 3},       {0x80, 0, 0, 0x3E, 0, 0, 0, 3},
        {0x80, 128, 5, 0x3F, 0x20, 0, 0, 3}, {0xA0, 65535, 2, 0x40, 0, 0, 0x11, 3}, {0xB0, 0, 4, 0, 0, 7, 0x64, 3},
        {0xC0, 0, 6, 0, 0, 0, 5, 2},         {0xD0, 0, 7, 0, 0, 0, 0x33, 2},        {0xE0, 0, 15, 1, 0, 0, 0x40, 3},
    };
    ASSERT_EQ(track->count(), 9);
    for (std::int32_t i = 0; i < 9; ++i) {
        const MidiEvent& e = track->event(i);
        EXPECT_EQ((Fields{e.kind, e.delta, e.channel, e.data1, e.velocity, e.subtype, e.value, e.length}),
                  expected[i]) << "record " << i;
    }
    EXPECT_TRUE(captured.take().empty());
}

TEST_F(TrackReadEvents, MetaEventsByType)
{
    const auto track = Read({
        0x00, 0xFF, 0x00, 0x02, 0x00, 0x07, 0x00, 0xFF, 0x20, 0x01, 0x05, 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
        0x00, 0xFF, 0x54, 0x05, 0x60, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x58, 0x04, 0x03, 0x03, 0x18, 0x08,
        0x00, 0xFF, 0x59, 0x02, 0xFE, 0x01, 0x00, 0xFF, 0x09, 0x03, 'a', 'b', 'c', 0x00, 0xFF, 0x0A, 0x01, 0x00,
        0x00, 0xFF, 0x7F, 0x02, 0x43, 0x7B, 0x00, 0xFF, 0x2F, 0x00,
    });
    EXPECT_EQ(Describe(*track), "ff.0@0 ff.20@0 ff.51@0 ff.54@0 ff.58@0 ff.59@0 ff.4@0 0.a@0 ff.7f@0 ff.2f@0");
    const std::array<std::int32_t, 10> lengths{2, 1, 3, 5, 4, 2, 3, 1, 2, 0};
    for (std::size_t i = 0; i < std::min<std::size_t>(lengths.size(), track->count()); ++i)
        EXPECT_EQ(track->event(static_cast<std::int32_t>(i)).length, lengths[i]) << "record " << i;
    EXPECT_EQ(track->event(2).value, 500000);
    EXPECT_EQ(track->event(4).value, 0x0308);
    EXPECT_EQ(Payload(track->event(4)), (Bytes{0x03, 0x03, 0x18, 0x08}));
    EXPECT_EQ(Payload(track->event(5)), (Bytes{0xFE, 0x01}));
    EXPECT_EQ(Payload(track->event(6)), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(track->event(6).payloadByte(3), 0) << "text ends with a zero byte";
    EXPECT_EQ(Payload(track->event(8)), (Bytes{0x43, 0x7B}));
    EXPECT_TRUE(captured.take().empty());
}

TEST_F(TrackReadEvents, RunningStatusAfterExclusivesMetasAndAcrossTracks)
{
    const auto exclusive = Read({0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,  // GM System On
                                 0x00, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x00, 0xFF, 0x2F, 0x00});
    EXPECT_EQ(Describe(*exclusive), "f0.9@0 f0.0@0 ff.2f@0");
    EXPECT_EQ(Payload(exclusive->event(0)), (Bytes{0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_EQ(exclusive->event(1).length, 6);

    const auto notes = Read({0x00, 0x92, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x01, 'x', 0x00, 0x3E, 0x40});
    EXPECT_EQ(Describe(*notes), "90.0@0 ff.1@0 90.0@0");
    EXPECT_EQ(notes->event(2).channel, 2);
    const auto next = Read({0x00, 0x3F, 0x40});  // goes on with the previous track's status
    EXPECT_EQ(Describe(*next), "90.0@0");
    EXPECT_EQ(next->event(0).channel, 2);
    EXPECT_EQ(next->event(0).data1, 0x3F);
    EXPECT_TRUE(captured.take().empty());

    // With no status at all, the data byte is skipped and reading goes on.
    MidiTrackData::ResetRunningStatus();
    EXPECT_EQ(Describe(*Read({0x00, 0x3C, 0x00, 0xFF, 0x2F, 0x00})), "0.0@0 ff.2f@0");
    EXPECT_EQ(captured.take(), Strings{"Undefined Midi Event"});
}

TEST_F(TrackReadErrors, BadValuesAreReportedAndCorrected)
{
    const std::tuple<Bytes, std::string, std::int32_t> cases[] = {
        {{0x00, 0xC0, 0x80}, "Wrong program change is modified to zero.", 0},
        {{0x00, 0xFF, 0x51, 0x03, 0x00, 0x00, 0x00}, "Tempo is wrong.", 500000},
        {{0x00, 0xFF, 0x58, 0x04, 0x04, 0x00, 0x18, 0x08}, kCatchAll, 0x0404},  // exponent 0
        {{0x00, 0xFF, 0x58, 0x04, 0x00, 0x02, 0x18, 0x08}, kCatchAll, 0x0404},  // numerator 0
        {{0x00, 0xFF, 0x58, 0x04, 0x03, 0x08, 0x18, 0x08}, kCatchAll, 0x0404},  // 2^8 does not fit
    };
    for (const auto& [events, message, value] : cases) {
        const auto track = Read(events);
        ASSERT_EQ(track->count(), 1);
        EXPECT_EQ(track->event(0).value, value) << message;
        EXPECT_EQ(captured.take(), Strings{message});
    }
}

TEST_F(TrackReadErrors, ChunkHeadersAndBrokenChunks)
{
    const Bytes endOnly{0x00, 0xFF, 0x2F, 0x00};
    const MidiTrackData track(Bytes(14, 0x11) + Chunk(endOnly, {}, "XFKM"), 14);
    EXPECT_EQ(track.state(), TrackState::OnOff);
    EXPECT_EQ(track.size(), 12);
    EXPECT_EQ(Describe(track), "ff.2f@0");
    EXPECT_TRUE(captured.take().empty());

    Bytes tooLong = Chunk(endOnly);
    tooLong[7] = 5;
    const std::tuple<Bytes, std::int64_t, std::string> cases[] = {
        {Chunk(endOnly, {}, "MTrx"), 0, kNotMidi},
        {tooLong, 0, kInternal},
        {{'M', 'T', 'r', 'k', 0x00, 0x00}, 0, kInternal},
        {Chunk(endOnly), 12, kNotMidi},  // nothing left at the offset
    };
    for (const auto& [song, offset, message] : cases) {
        const MidiTrackData broken(song, offset);
        EXPECT_EQ(broken.size(), 0) << message;
        EXPECT_EQ(broken.count(), 0);
        EXPECT_EQ(broken.state(), TrackState::OnOff);
        EXPECT_EQ(captured.take(), Strings{message});
    }
}

TEST_F(TrackReadErrors, ReadingPastTheChunkSeesZerosAndAlwaysEnds)
{
    // The song goes on after each chunk, but what follows a chunk reads as zeros.
    EXPECT_EQ(Describe(MidiTrackData(Chunk({0x00, 0x90, 0x3C}, {0x7F}), 0)), "80.0@0");
    EXPECT_EQ(MidiTrackData(Chunk({0x00, 0xFF, 0x51, 0x03, 0x07}, {0xA1, 0x20}), 0).event(0).value, 0x070000);
    const auto lastByte = Read({0x00, 0xF0, 0x03, 0x41, 0x42, 0xF7});
    EXPECT_EQ(Payload(lastByte->event(0)), (Bytes{0xF0, 0x03, 0x41, 0x42, 0xF7}));
    EXPECT_EQ(Describe(*Read({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x2F, 0x00})), "ff.2f@268435455");
    EXPECT_TRUE(captured.take().empty());

    EXPECT_EQ(Describe(*Read({0x00, 0xF0, 0x03, 0x41, 0x42, 0x43})), "f0.0@0");
    EXPECT_EQ(captured.take(), Strings{kInternal});
    // A delta running into the chunk's end, then nothing left to decode.
    EXPECT_EQ(Describe(*Read({0x00, 0xFF, 0x2F, 0x00, 0x81, 0x81})), "ff.2f@0 0.0@257");
    EXPECT_EQ(captured.take(), (Strings{kInternal, kInternal}));
    // Text counts past the chunk are cut to the bytes left.
    const MidiTrackData text(Chunk({0x00, 0xFF, 0x01, 0x05, 'a', 'b'}, {'c', 'd', 'e'}), 0);
    EXPECT_EQ(Payload(text.event(0)), (Bytes{'a', 'b'}));
    EXPECT_EQ(text.event(0).payloadByte(2), 0);
    EXPECT_EQ(Payload(Read({0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a'})->event(0)), Bytes{'a'});
    EXPECT_EQ(captured.take(), (Strings{kInternal, kInternal}));
}

TEST_F(TrackReadNotices, ShownOncePerTrackAndAgainForTheNext)
{
    const std::string badNote = "内部処理のエラーでノートナンバーが異常になりましたので０に修正しました。";
    const Bytes badNotes{0x00, 0x90, 0x80, 0x40, 0x00, 0x80, 0xFF, 0x40};
    const auto first = Read(badNotes);
    EXPECT_EQ(Describe(*first), "90.0@0 80.0@0");
    EXPECT_EQ(first->event(0).data1 | first->event(0).velocity | first->event(1).data1 | first->event(1).velocity, 0);
    EXPECT_EQ(captured.take(), Strings{badNote});
    Read(badNotes);
    EXPECT_EQ(captured.take(), Strings{badNote});

    Read(LongMeta(0x7F, 300));  // sequencer-specific: nothing, neither read nor released
    EXPECT_TRUE(captured.take().empty());
    Bytes exclusive{0x00, 0xF0, 0x82, 0x2C};
    exclusive.resize(exclusive.size() + 296, 0x01);
    exclusive.push_back(0xF7);
    Bytes escape{0x00, 0xF7, 0xFF};
    escape.resize(escape.size() + 255, 0x02);
    const Bytes text = LongMeta(0x01, 300);
    auto track = Read(text + exclusive + escape);
    EXPECT_EQ(captured.take(), Strings{"サイズが大きすぎるイベントが含まれています。"});
    ASSERT_EQ(Describe(*track), "ff.1@0 f0.0@0 f7.0@0");
    EXPECT_EQ(Payload(track->event(0)), Bytes(text.begin() + 5, text.end()));
    EXPECT_EQ(track->event(0).payloadByte(300), 0);
    EXPECT_EQ(Payload(track->event(1)), Bytes(exclusive.begin() + 1, exclusive.end()));
    EXPECT_EQ(Payload(track->event(2)), Bytes(escape.begin() + 1, escape.end()));
    const std::array<std::size_t, 3> capacities{301, 300, 257};
    for (std::int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(track->event(i).payloadCapacity(), capacities[static_cast<std::size_t>(i)]);
    track.reset();
    EXPECT_EQ(captured.take(), (Strings{kCatchAll, kCatchAll, kCatchAll}));
}

TEST_F(TrackReadNotices, LargeDataOncePerTrackWhileTheListGrows)
{
    Bytes events{0x00, 0xC0, 0x00};  // then running status: one record per two bytes
    events.resize(3 + 2 * (MidiTrackData::kEventLimit - 1), 0x00);
    auto track = Read(events);
    EXPECT_EQ(track->count(), MidiTrackData::kEventLimit);
    EXPECT_TRUE(captured.take().empty());
    EXPECT_EQ(track->append(Record(EventKind::NoteOn, 0)), MidiTrackData::kEventLimit + 1);
    EXPECT_EQ(track->append(Record(EventKind::NoteOn, 0)), MidiTrackData::kEventLimit + 2);
    EXPECT_EQ(captured.take(), Strings{"Large data"});

    track = Read(events + Bytes{0x00, 0x00});
    EXPECT_EQ(track->count(), MidiTrackData::kEventLimit + 1);
    EXPECT_EQ(captured.take(), Strings{"Large data"});
}

const Bytes kListTrack{
    0x05, 0xFF, 0x03, 0x03, 'a', 'b', 'c', 0x10, 0xC1, 0x05,  // name, program on channel 1
    0x20, 0xFF, 0x58, 0x04, 0x06, 0x03, 0x18, 0x08,           // 6/8
    0x30, 0xFF, 0x2F, 0x00, 0x40, 0xFF, 0x03, 0x01, 'z',      // End of Track, then another name
};

TEST_F(TrackReadList, InsertRemoveAndSwap)
{
    const auto track = Read(kListTrack);
    track->insertAt(1, 2, Record(EventKind::ControlChange, 7));
    track->insertAt(1, 0, Record(EventKind::NoteOn, 9));
    EXPECT_EQ(Describe(*track), "ff.3@5 b0.0@7 90.0@9 c0.0@16 ff.58@32 ff.2f@48 ff.3@64");
    track->removeAt(1);
    track->removeAt(5);
    EXPECT_EQ(Describe(*track), "ff.3@5 90.0@16 c0.0@16 ff.58@32 ff.2f@48");
    track->swap(0, 2);
    track->swap(3, 3);
    EXPECT_EQ(Describe(*track), "c0.0@5 90.0@16 ff.3@16 ff.58@32 ff.2f@48");
    EXPECT_EQ(track->event(0).channel, 1);
}

TEST_F(TrackReadList, LookupsAndMetaRemoval)
{
    const auto track = Read(kListTrack);
    std::string text = "stale";
    EXPECT_TRUE(track->findMetaText(3, text));
    EXPECT_EQ(text, "abc");
    EXPECT_FALSE(track->findMetaText(1, text));
    EXPECT_EQ(text, "");
    std::int32_t signature = 0;
    EXPECT_TRUE(track->findTimeSignature(signature));
    EXPECT_EQ(signature, 0x0608);
    EXPECT_EQ(track->firstChannel(), 1);

    EXPECT_TRUE(track->removeMeta(0x103, false));  // low 8 bits compared
    EXPECT_EQ(Describe(*track), "c0.0@21 ff.58@32 ff.2f@48 ff.3@64");
    EXPECT_TRUE(track->removeMeta(3, true));
    EXPECT_FALSE(track->removeMeta(3, true));
    EXPECT_TRUE(track->removeMeta(0x58, true));
    EXPECT_FALSE(track->findTimeSignature(signature));
    track->insertMetaTextAtStart(0x101, "Title");
    EXPECT_EQ(Describe(*track), "ff.1@0 c0.0@21 ff.2f@80");
    EXPECT_EQ(Payload(track->event(0)), (Bytes{'T', 'i', 't', 'l', 'e'}));
    EXPECT_EQ(track->event(0).payloadByte(5), 0);
    EXPECT_TRUE(captured.take().empty());
    track->insertMetaTextAtStart(1, std::string(128, 'x'));
    EXPECT_EQ(captured.take(), Strings{kCatchAll});

    // A GS rhythm-part exclusive carries its part's channel, but does not count.
    const auto gs = Read({0x00, 0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7,
                          0x00, 0xFF, 0x2F, 0x00, 0x00, 0x93, 0x3C, 0x40});
    EXPECT_EQ(gs->event(0).channel, 10);
    EXPECT_EQ(gs->firstChannel(), 3);
    EXPECT_EQ(MidiTrackData().firstChannel(), kNoChannel);
}

TEST_F(TrackReadList, EndOfTrackAppendedAndNormalised)
{
    const auto track = Read(kListTrack);
    track->appendEndOfTrack(5);
    track->appendEndOfTrack(7);
    EXPECT_EQ(Describe(*track), "ff.3@5 c0.0@16 ff.58@32 ff.2f@48 ff.3@64 ff.2f@5");
    EXPECT_EQ(Payload(track->event(5)), (Bytes{0xFF, 0x2F, 0x00}));
    const MidiEvent& end = track->normaliseEndOfTrack();
    EXPECT_EQ(&end, &track->event(4));
    EXPECT_EQ(Describe(*track), "ff.3@5 c0.0@16 ff.58@32 ff.3@112 ff.2f@5");

    const auto missing = Read({0x00, 0xFF, 0x2F, 0x00, 0x10, 0x90, 0x3C, 0x40});
    EXPECT_EQ(missing->normaliseEndOfTrack().length, 0);
    EXPECT_EQ(Describe(*missing), "90.0@16 ff.2f@0");
}

TEST_F(TrackReadCorpus, EveryFileReadsToAnEnd)
{
    const std::filesystem::path dir = test::CorpusDir();
    if (dir.empty())
        GTEST_SKIP() << "no MIDI corpus";
    std::ifstream manifest(dir / "MANIFEST.tsv");
    int files = 0;
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::string name = line.substr(0, line.find('\t'));
        for (const auto& track : ReadSong(dir / name)) {
            EXPECT_EQ(track->state(), TrackState::OnOff) << name;
            for (std::int32_t i = 0; i < track->count(); ++i) {
                const MidiEvent& e = track->event(i);
                ASSERT_GE(e.delta, 0) << name << " record " << i;
                ASSERT_TRUE(e.channel == kNoChannel || (e.channel >= 0 && e.channel < 16)) << name;
                ASSERT_TRUE(e.length >= 0 && static_cast<std::size_t>(e.length) <= e.payloadCapacity()) << name;
            }
        }
        ++files;
    }
    EXPECT_GT(files, 200);
}

TEST_F(TrackReadCorpus, SmallKnownFiles)
{
    const std::filesystem::path dir = test::CorpusDir();
    if (dir.empty())
        GTEST_SKIP() << "no MIDI corpus";
    const std::filesystem::path jazz = dir / "jazz-soft-test-midi-files/midi";
    // Size, records, note-ons, note-offs, ticks and first channel of a track.
    const auto summary = [](const MidiTrackData& track) {
        std::array<std::int64_t, 6> sums{track.size(), track.count(), 0, 0, 0, track.firstChannel()};
        for (std::int32_t i = 0; i < track.count(); ++i) {
            sums[2] += track.event(i).kind == EventKind::NoteOn;
            sums[3] += track.event(i).kind == EventKind::NoteOff;
            sums[4] += track.event(i).delta;
        }
        return sums;
    };
    using Summary = std::array<std::int64_t, 6>;

    const Tracks scale = ReadSong(jazz / "test-c-major-scale.mid");
    ASSERT_EQ(scale.size(), 1u);
    EXPECT_EQ(summary(*scale[0]), (Summary{8 + 0x1C3, 30, 8, 8, 8 * 96, 0}));
    const Tracks two = ReadSong(jazz / "test-2-tracks-type-1.mid");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(summary(*two[0]), (Summary{8 + 0xBC, 21, 8, 8, 9 * 96, 0}));
    EXPECT_EQ(summary(*two[1]), (Summary{8 + 0x5D, 19, 8, 8, 9 * 96, 1}));
    EXPECT_TRUE(captured.take().empty());
    // A chunk one byte short of its length.
    const Tracks shortFile = ReadSong(jazz / "test-corrupt-file-missing-byte.mid");
    ASSERT_EQ(shortFile.size(), 1u);
    EXPECT_EQ(captured.take(), Strings{kInternal});
}

}  // namespace
}  // namespace sonrigo
