// MidiTrackData: a track read from a chunk's bytes, its records, and the
// conversions and merges of tracks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/ErrorTexts.h"
#include "common/ScopedMessageCapture.h"
#include "song/MidiEvent.h"
#include "song/MidiTrackData.h"
#include "support/SmfBytes.h"

namespace sonrigo {
namespace {

namespace K = EventKind;
using test::Bytes;
using test::Chunk;
using Strings = std::vector<std::string>;
using Tracks = std::vector<std::unique_ptr<MidiTrackData>>;
using Op = std::function<std::int32_t(MidiTrackData&)>;
using Sources = std::vector<MidiTrackData*>;

const std::string kInternal = "MidiTrackData Internal Error";
const std::string kCatchAll = "MidiTrackData error.";
const std::string kNotMidi = "This is not a midi file.";
constexpr std::int32_t kName = 3, kEnd = 0x2F;

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
    EXPECT_EQ(Payload(track->event(1)), Bytes(exclusive.begin() + 1, exclusive.end()));
    EXPECT_EQ(Payload(track->event(2)), Bytes(escape.begin() + 1, escape.end()));
    // A copy, as a play copy is made, carries them whole.
    track->toDurationForm();
    const auto copy = std::make_unique<MidiTrackData>(*track);
    EXPECT_EQ(Describe(*copy, true), Describe(*track, true));
    for (std::int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(Payload(copy->event(i)), Payload(track->event(i))) << i;
    track.reset();
    EXPECT_EQ(captured.take(), (Strings{kCatchAll, kCatchAll, kCatchAll}));
}

// The body of a Roland GS data set to the address 40 address item; its checksum is never looked at.
Bytes Gs(std::uint8_t address, std::uint8_t item, std::uint8_t value)
{
    return {0x41, 0x10, 0x42, 0x12, 0x40, address, item, value, 0x00, 0xF7};
}

// Of the classes, the master volume's (with its value) is used, and a part's
// channel, which sends the message to that channel's track when a format-0 song
// is split; the others only label the records (sonrigo-cli dump).
TEST_F(TrackRead, ExclusivesGiveTheMasterVolumeAndAPartsChannel)
{
    constexpr std::int32_t no = kNoChannel;
    // The body after F0 and the count; then class, value and channel.
    const std::tuple<Bytes, std::int32_t, std::int32_t, std::int32_t> cases[] = {
        // Universal real-time master volume, and its neighbours (balance, then nothing).
        {{0x7F, 0x7F, 0x04, 0x01, 0x00, 0x64, 0xF7}, 0x01, 0x64, no},
        {{0x7F, 0x7F, 0x04, 0x02, 0x00, 0x40, 0xF7}, 0x28, 0x40, no},
        {{0x7F, 0x7F, 0x04, 0x03, 0x00, 0x40, 0xF7}, 0, 0, no},
        // GS master volume 40 00 04.
        {Gs(0x00, 0x04, 0x70), 0x01, 0x70, no},
        // GS use-for-rhythm-part 40 1x 15: the part's channel from the low nibble.
        {Gs(0x1A, 0x15, 2), 0x12, 2, 10}, {Gs(0x10, 0x15, 2), 0x12, 2, 9}, {Gs(0x11, 0x15, 1), 0x12, 1, 0},
        {Gs(0x19, 0x15, 1), 0x12, 1, 8},  {Gs(0x1F, 0x15, 1), 0x12, 1, 15}, {Gs(0x1A, 0x16, 2), 0, 2, no},
        // GS part parameter 40 4x 20.
        {Gs(0x43, 0x20, 3), 0x45, 3, 2}, {Gs(0x40, 0x20, 3), 0x45, 3, 9}, {Gs(0x43, 0x21, 3), 0, 3, no},
        // Any other GS 40 xx address, the GS reset among them: class 0, value untouched.
        {Gs(0x00, 0x7F, 0x00), 0, 0, no}, {Gs(0x20, 0x15, 5), 0, 0, no},
    };
    for (const auto& [body, expectedClass, expectedValue, expectedChannel] : cases) {
        const auto track = Read(Bytes{0x00, 0xF0, static_cast<std::uint8_t>(body.size())} + body);
        const MidiEvent& event = track->event(0);
        EXPECT_EQ(std::tuple(event.subtype, event.value, event.channel),
                  std::tuple(expectedClass, expectedValue, expectedChannel)) << testing::PrintToString(body);
    }
}

// ---------------------------------------------------------------------------
// Conversions and merges.

MidiEvent Ch(std::int32_t kind, std::int32_t delta, std::int32_t note, std::int32_t velocity = 100, std::int32_t channel = 0)
{
    MidiEvent e(delta);
    std::tie(e.kind, e.data1, e.velocity, e.channel) = std::tuple(kind, note, velocity, channel);
    return e;
}
MidiEvent Meta(std::int32_t delta, std::int32_t type, const std::string& text = {})
{
    MidiEvent e(delta);
    std::tie(e.kind, e.subtype) = std::tuple(K::Meta, type);
    e.storePayload({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    return e;
}
bool IsMeta(const MidiEvent& e, std::int32_t type) { return e.kind == K::Meta && (e.subtype & 0xFF) == type; }
std::int32_t Clamp32(std::int64_t v) { return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX)); }

struct Input {
    std::int32_t state;
    std::vector<MidiEvent> events;
};

std::unique_ptr<MidiTrackData> Made(const Input& in)
{
    auto track = std::make_unique<MidiTrackData>(in.state);
    for (const MidiEvent& e : in.events)
        track->append(e);
    return track;
}

// Every field of every record, with the state, the result and the messages.
std::string Described(const MidiTrackData& t, std::int32_t result, const Strings& shown)
{
    std::ostringstream out;
    out << "state " << t.state() << " result " << result << ":";
    for (std::int32_t i = 0; i < t.count(); ++i) {
        const MidiEvent& e = t.event(i);
        out << ' ' << std::hex << int{e.kind} << std::dec << '@' << e.delta << '[' << e.channel << ':' << int{e.data1}
            << ':' << int{e.velocity} << " d" << e.duration << " s" << e.subtype << " v" << e.value << " /" << e.length
            << " '" << std::string(e.payloadBytes().begin(), e.payloadBytes().end()) << "']";
    }
    for (const std::string& message : shown)
        out << " | " << message;
    return out.str();
}

std::string Outcome(const Input& in, const Op& op)
{
    ScopedMessageCapture captured;
    const auto track = Made(in);
    const std::int32_t result = op(*track);
    return Described(*track, result, captured.take());
}

// ---------------------------------------------------------------------------
// The conversions as walking the list one record at a time, inserting and
// removing as it goes, gives them: slow and literal. The track's own
// conversions must give the same records and messages.

std::int32_t NaiveToDuration(MidiTrackData& t)
{
    t.noteOnZeroToNoteOff();
    for (std::int32_t i = 0; i < t.count(); ++i) {
        if (t.event(i).kind != K::NoteOn)
            continue;
        t.event(i).kind = K::Note;
        std::int64_t sum = 0;
        for (std::int32_t j = i + 1; j < t.count(); ++j) {
            const MidiEvent& off = t.event(j);
            sum += off.delta;
            if (off.kind == K::NoteOff && off.channel == t.event(i).channel && off.data1 == t.event(i).data1) {
                t.event(i).duration = Clamp32(sum);
                t.removeAt(j);
                break;
            }
        }
    }
    for (std::int32_t i = 0; i < t.count();)
        t.event(i).kind == K::NoteOff ? t.removeAt(i) : void(++i);
    for (std::int32_t i = 0; i < t.count(); ++i) {
        MidiEvent& note = t.event(i);
        if (note.kind == K::Note && note.duration == 0)
            note.kind = K::Removed;
        else if (note.kind == K::Note && note.duration < 0)
            MidiTrackData::ReportError(MidiTrackDataError::Internal);
    }
    t.compact();
    t.setState(TrackState::Duration);
    return 0;
}

std::int32_t NaiveOrder(MidiTrackData& t)
{
    for (std::int32_t i = 0; i < t.count(); ++i) {
        for (std::int32_t n = i; t.event(i).kind == K::NoteOff && n-- > 0 && t.event(n + 1).delta == 0;) {
            if (t.event(n).kind == K::NoteOn) {
                t.swap(n, i);
                break;
            }
        }
    }
    return 0;
}

std::int32_t NaiveToOnOff(MidiTrackData& t)
{
    for (std::int32_t i = 0; i < t.count(); ++i) {
        MidiEvent& note = t.event(i);
        if (note.kind == K::Note && (note.duration == 0 || note.velocity == 0))
            note.kind = K::Removed;
    }
    t.compact();
    for (std::int32_t i = 0; i < t.count(); ++i) {
        if (t.event(i).kind != K::Note)
            continue;
        MidiEvent off = Ch(K::NoteOff, 0, t.event(i).data1, 64, t.event(i).channel);
        t.event(i).kind = K::NoteOn;
        const std::int64_t d = std::max(std::exchange(t.event(i).duration, 0), 0);
        std::int32_t k = i;
        std::int64_t sum = 0;
        while (d > 0 && ++k < t.count() && (sum += t.event(k).delta) < d) {
        }
        if (k == t.count()) {
            off.delta = Clamp32(d - sum);
            t.append(std::move(off));
        } else {
            off.delta = Clamp32(t.event(k).delta - (sum - d));
            t.event(k).delta = Clamp32(sum - d);
            t.insertAt(k, 2, std::move(off));
        }
    }
    for (std::int32_t i = 0; i + 1 < t.count(); ++i) {
        if (IsMeta(t.event(i), kEnd)) {  // moved last, its delta passed on
            MidiEvent end = t.event(i);
            t.removeAt(i);
            end.delta = 0;
            t.append(std::move(end));
            break;
        }
    }
    t.setState(TrackState::OnOff);
    return NaiveOrder(t);
}

std::int32_t NaiveRescale(MidiTrackData& t, std::int32_t from, std::int32_t to)
{
    std::int32_t result = 0;
    std::int64_t remainder = 0;
    for (std::int32_t i = 0; i < t.count(); ++i) {
        MidiEvent& e = t.event(i);
        const std::int64_t ticks = e.delta + remainder, scaled = ticks * to / from;
        remainder = ticks - scaled * from / to;
        e.delta = Clamp32(scaled);
        if (e.kind == K::Note && (e.duration = Clamp32(std::int64_t{e.duration} * to / from)) == 0) {
            e.duration = 1;
            result = 1;
        }
    }
    t.compact();
    return result;
}

Op Merging(const std::vector<Input>& inputs, const std::function<void(MidiTrackData&, const Sources&)>& merge)
{
    return [=](MidiTrackData& t) {
        std::vector<std::unique_ptr<MidiTrackData>> tracks;
        Sources sources;
        for (const Input& in : inputs)
            sources.push_back(tracks.emplace_back(Made(in)).get());
        merge(t, sources);
        return 0;
    };
}
const auto kFromLastMoving = [](MidiTrackData& t, const Sources& s) { t.mergeTracksFromLastMoving(s); };
const auto kOneByOne = [](MidiTrackData& t, const Sources& s) {
    for (std::size_t k = s.size(); k-- > 0;)
        t.mergeTrack(*s[k], 1);
};

// ---------------------------------------------------------------------------
// Random tracks as files give them: notes overlapping on one pitch, note-ons of
// velocity 0, stray note-offs, notes never ended, runs of simultaneous events,
// names and texts (some too long to keep), End of Track missing, doubled or in mid-track; and now and
// then a delta or duration that runs backwards, as only hand-built tracks have.

class Generator {
public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}
    int upTo(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(int percent) { return upTo(1, 100) <= percent; }
    std::string text(int most)
    {
        std::string s(static_cast<std::size_t>(upTo(0, most)), ' ');
        for (char& c : s)
            c = static_cast<char>('a' + upTo(0, 25));
        return s;
    }

    Input track(std::int32_t form, int records, bool withNotes)
    {
        Input in{form, {}};
        std::vector<MidiEvent>& v = in.events;
        const int channels[3] = {upTo(0, 15), upTo(0, 15), upTo(0, 15)};
        if (chance(75))
            v.push_back(Meta(0, kName, text(90)));
        while (static_cast<int>(v.size()) < records) {
            const int d = upTo(1, 100), p = withNotes ? upTo(1, 100) : 100, q = upTo(1, 100);
            const int delta = d <= 50 ? 0 : d <= 82 ? upTo(1, 40) : d <= 97 ? upTo(41, 480) : upTo(481, 4000);
            MidiEvent r = Ch(K::ControlChange, delta, chance(60) ? 60 + 2 * upTo(0, 2) : upTo(0, 127), upTo(1, 127),
                             channels[upTo(0, 2)]);
            std::tie(r.subtype, r.value) = std::tuple(upTo(0, 127), upTo(0, 127));
            if (p <= 55 && form == TrackState::Duration) {
                r.kind = K::Note;
                r.duration = q <= 80 ? upTo(1, 480) : q <= 90 ? upTo(481, 6000) : q <= 95 ? upTo(1, 4) : 0;
                r.velocity = chance(3) ? 0 : r.velocity;
            } else if (p <= 55) {  // a note-on, or a note-off of either kind
                r.kind = p <= 40 ? K::NoteOn : K::NoteOff;
                r.velocity = p > 30 ? upTo(0, p <= 40 ? 0 : 127) : r.velocity;
            } else if (p > 78) {  // a name, a text, an End of Track, or a meta the reader dropped
                const std::string payload = q > 60 && q <= 70 ? "" : text(q > 97 ? 300 : 40);
                r = Meta(delta, q <= 40 ? kName : q <= 60 ? 0x0A : q <= 70 ? kEnd : 1, payload);
                r.kind = q > 40 && q <= 60 ? K::Removed : K::Meta;
            }
            v.push_back(std::move(r));
        }
        if (!v.empty() && chance(10)) {
            MidiEvent& r = v[static_cast<std::size_t>(upTo(0, static_cast<int>(v.size()) - 1))];
            (r.kind == K::Note ? r.duration : r.delta) = -upTo(1, 30);
        }
        if (const int end = upTo(1, 100); end <= 80)
            for (int i = end <= 8 ? 2 : 1; i > 0; --i)
                v.push_back(Meta(upTo(0, 200), kEnd));
        return in;
    }

private:
    std::mt19937 rng_;
};

struct Check {
    std::string name;
    Input input;
    Op onTrack, reference;
};

// Two hundred seeds of checks; the first disagreement of each check is reported.
void ExpectAgreement(std::uint32_t firstSeed, const std::function<std::vector<Check>(Generator&)>& checks)
{
    std::set<std::string> failed;
    for (std::uint32_t seed = firstSeed; seed < firstSeed + 200; ++seed) {
        Generator gen(seed);
        for (const Check& c : checks(gen)) {
            if (failed.contains(c.name))
                continue;
            const std::string got = Outcome(c.input, c.onTrack), want = Outcome(c.input, c.reference);
            const auto at = static_cast<std::size_t>(std::max<std::ptrdiff_t>(
                std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin() - 80, 0));
            if (got != want && failed.insert(c.name).second)
                ADD_FAILURE() << c.name << ", seed " << seed << ", " << c.input.events.size() << " records:\n  "
                              << got.substr(at, 300) << "\nexpected\n  " << want.substr(at, 300);
        }
    }
}

const Op kToDuration = [](MidiTrackData& t) { return t.toDurationForm(), 0; };
const Op kToOnOff = [](MidiTrackData& t) { return t.toOnOffForm(), 0; };
const Op kOrder = [](MidiTrackData& t) { return t.orderNoteOffsFirst(), 0; };
Op Rescale(std::int32_t from, std::int32_t to)
{
    return [=](MidiTrackData& t) { return t.rescale(from, to, 0); };
}

TEST(TrackConversionAgreement, OnOffTracks)
{
    ExpectAgreement(1, [](Generator& gen) {
        const Input in = gen.track(TrackState::OnOff, gen.upTo(1, 200), true);
        return std::vector<Check>{{"toDurationForm", in, kToDuration, NaiveToDuration},
                                  {"orderNoteOffsFirst", in, kOrder, NaiveOrder}};
    });
}

TEST(TrackConversionAgreement, DurationTracksRescaledAndBackToOnOff)
{
    ExpectAgreement(1001, [](Generator& gen) {
        const Input in = gen.track(TrackState::Duration, gen.upTo(1, 130), true);
        std::vector<Check> checks{{"toOnOffForm", in, kToOnOff, NaiveToOnOff}};
        for (auto [from, to] : {std::pair{480, 96}, {96, 480}, {97, 96}})
            checks.push_back({"rescale " + std::to_string(from) + ">" + std::to_string(to), in, Rescale(from, to),
                              [=](MidiTrackData& t) { return NaiveRescale(t, from, to); }});
        return checks;
    });
}

// The one-pass merges against merging the tracks one by one with mergeTrack.
TEST(TrackConversionAgreement, Merges)
{
    ExpectAgreement(2001, [](Generator& gen) {
        std::vector<Input> inputs;
        for (int i = 0; i < 7; ++i)  // a fifth without channel events, as a conductor track
            inputs.push_back(gen.track(TrackState::Duration, gen.upTo(0, 30), !gen.chance(20)));
        std::vector<Check> checks;
        for (std::ptrdiff_t n : {1, 2, 7}) {
            const std::vector<Input> sources(inputs.begin(), inputs.begin() + n);
            checks.push_back({"mergeTracksFromLastMoving of " + std::to_string(n), {TrackState::Duration, {}},
                              Merging(sources, kFromLastMoving), Merging(sources, kOneByOne)});
        }
        return checks;
    });
}

// Songs split from format 0 carry End of Track records of length 3. When the
// whole song sits at tick 0, merging one by one ends it with a fresh End of
// Track, not with a track's own; the one-pass merge must do the same.
TEST(TrackConversionAgreement, OnePassMergeEndsLikeMergesOneByOne)
{
    const std::string own("\xFF\x2F\x00", 3);
    const std::vector<Input> sources{{TrackState::Duration, {Ch(K::ControlChange, 0, 0), Meta(0, kEnd, own)}},
                                     {TrackState::Duration, {Meta(0, kEnd, own)}}};
    EXPECT_EQ(Outcome({TrackState::Duration, {}}, Merging(sources, kFromLastMoving)),
              Outcome({TrackState::Duration, {}}, Merging(sources, kOneByOne)));
}

// ---------------------------------------------------------------------------
// Fixed cases: what the references above do not check (the merge's names and
// long payloads, compaction), times beyond 32 bits and the error paths that
// random tracks do not take.

MidiEvent On(std::int32_t delta, std::int32_t note) { return Ch(K::NoteOn, delta, note); }
MidiEvent Off(std::int32_t delta, std::int32_t note) { return Ch(K::NoteOff, delta, note, 0); }
MidiEvent MadeOff(std::int32_t delta, std::int32_t note) { return Ch(K::NoteOff, delta, note, 64); }  // velocity 64
MidiEvent Cc(std::int32_t delta, std::int32_t channel = 0) { return Ch(K::ControlChange, delta, 0, 0, channel); }
MidiEvent Note(std::int32_t delta, std::int32_t note, std::int32_t duration)
{
    MidiEvent e = Ch(K::Note, delta, note);
    e.duration = duration;
    return e;
}

void ExpectCase(const Op& op, const Input& in, const Input& expected, const Strings& shown = {}, std::int32_t result = 0)
{
    EXPECT_EQ(Outcome(in, op), Described(*Made(expected), result, shown));
}

TEST(TrackConversionCases, FixedExamples)
{
    const std::int32_t on = TrackState::OnOff, dur = TrackState::Duration;
    // A file's division of 0: nothing is rescaled, and that is said.
    const Input sevens{dur, {Cc(7), Note(7, 60, 3)}};
    ExpectCase(Rescale(0, 96), sevens, sevens, {kInternal});
    // A long payload is reported once, as the copies of the merge are released; sequencer-specific data never.
    const MidiEvent text = Meta(0, 1, std::string(300, 'x')), data = Meta(0, 0x7F, std::string(300, 'y'));
    ExpectCase([](MidiTrackData& t) { return t.mergeTrack(MidiTrackData(TrackState::Duration), 1), 0; },
               {dur, {text, data}}, {dur, {Meta(0, kName), text, data, Meta(0, kEnd)}}, {kCatchAll});
    // Removed records go, their deltas passed on; a delta that turns negative is reported.
    MidiEvent removed = Cc(4), back = Cc(-9);
    removed.kind = K::Removed;
    ExpectCase([](MidiTrackData& t) { return t.compact(), 0; }, {on, {Cc(1), removed, Cc(2), removed, back}},
               {on, {Cc(1), Cc(6), Cc(-5)}}, {kInternal});

    // Times beyond 32 bits are clamped.
    ExpectCase(kToDuration, {on, {On(0, 60), Cc(INT32_MAX), Off(10, 60)}}, {dur, {Note(0, 60, INT32_MAX), Cc(INT32_MAX)}});
    ExpectCase(kToOnOff, {dur, {Note(0, 60, INT32_MAX), Cc(1 << 30), Cc(1 << 30), Cc(1 << 30)}},
               {on, {On(0, 60), Cc(1 << 30), MadeOff((1 << 30) - 1, 60), Cc(1), Cc(1 << 30)}});
    ExpectCase(Rescale(96, 480), {dur, {Note(1 << 30, 60, 1 << 30)}}, {dur, {Note(INT32_MAX, 60, INT32_MAX)}});
    ExpectCase(Rescale(480, 96), {dur, {Note(1 << 20, 60, 1 << 20)}}, {dur, {Note(209'715, 60, 209'715)}});
}

// A joined name of 128 bytes or more is "long name"; a track's later names
// stay. (How names are joined, the agreement of the merges checks.)
TEST(TrackConversionCases, MergedTrackNames)
{
    const auto named = [](const std::string& name) { return Input{TrackState::Duration, {Meta(0, kName, name), Cc(0)}}; };
    const std::string a62(62, 'a'), b62(62, 'b');
    const std::tuple<Input, Input, Strings> cases[] = {
        {named(a62), named(b62), {a62 + " / " + b62}},
        {named(a62), named(b62 + "b"), {"long name"}},
        {{TrackState::Duration, {Meta(0, kName, "Piano"), Cc(5), Meta(0, kName, "Left")}}, named("Bass"),
         {"Piano / Bass", "Left"}},
    };
    for (const auto& [in, other, names] : cases) {
        const auto track = Made(in);
        track->mergeTrack(*Made(other), 1);
        Strings got;
        for (std::int32_t i = 0; i < track->count(); ++i)
            if (IsMeta(track->event(i), kName))
                got.emplace_back(track->event(i).payloadBytes().begin(), track->event(i).payloadBytes().end());
        EXPECT_EQ(got, names);
    }
}

// Merged one by one, each merge builds its list from the list so far (one End
// of Track, the name) and the next track, so "Large data" shows only where
// that passes the limit, once per such merge: never for the seventeen tracks
// split from a format-0 song just under the size limit, each with its own End
// of Track. Records appended past the limit are reported once per track.
TEST(TrackConversionCases, LargeDataShownByTheOnePassMergeAsMergesOneByOneAndOncePerTrack)
{
    ScopedMessageCapture captured;
    const auto merged = [&](std::vector<std::size_t> sizes) {
        std::vector<std::unique_ptr<MidiTrackData>> tracks;
        Sources sources;
        for (std::size_t records : sizes) {
            auto& made = tracks.emplace_back(std::make_unique<MidiTrackData>(TrackState::Duration));
            made->reserve(records + 1);
            for (std::size_t i = 0; i < records; ++i)
                made->append(Ch(K::ChannelPressure, 1, 0));
            made->appendEndOfTrack(0);
            sources.push_back(made.get());
        }
        auto target = std::make_unique<MidiTrackData>(TrackState::Duration);
        target->mergeTracksFromLastMoving(sources);
        return target;
    };
    std::vector<std::size_t> split(17, 28'912);
    split[0] = 28'925;  // 491,517 records and 17 Ends of Track; the last merge's list just at the limit
    const auto song = merged(split);
    EXPECT_EQ(std::pair(captured.take(), song->count()), std::pair(Strings{}, 491'519));
    while (song->count() < MidiTrackData::kEventLimit)
        song->append(MidiEvent(0));
    EXPECT_EQ(captured.take(), Strings{});
    song->append(MidiEvent(0));
    EXPECT_EQ(captured.take(), Strings{"Large data"});
    song->append(MidiEvent(0));
    EXPECT_EQ(captured.take(), Strings{}) << "once per track";
    // The last merge: the list so far, 241,518 records, the name and an End of
    // Track, and 250,001 records: one past the limit.
    const auto large = merged({250'000, 241'518});
    EXPECT_EQ(std::pair(captured.take(), large->count()), std::pair(Strings{"Large data"}, 491'520));
}

}  // namespace
}  // namespace sonrigo
