#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/FileChooser.h"
#include "common/ScopedMessageCapture.h"
#include "platform/HeadlessFileDialog.h"
#include "smf/MidiF0Data.h"
#include "smf/MidiF1Data.h"
#include "smf/MidiFileLoader.h"
#include "smf/SmfBuffer.h"
#include "smf/SmfFile.h"
#include "smf/SmfFileInfo.h"
#include "song/MidiTrackData.h"
#include "support/SmfBytes.h"
#include "support/TempDir.h"

namespace sonrigo {
namespace {

namespace K = EventKind;
using test::Bytes;
using test::Ev;
using test::Smf;
using test::SmfHeader;
using test::WithMacBinaryPrefix;
using Events = std::vector<Bytes>;
using Strings = std::vector<std::string>;
using Deltas = std::vector<std::int32_t>;
using NoteAt = std::tuple<std::int64_t, int, int, int, int>;  // tick, channel, note, duration, velocity

const std::string kNoMasterVolume = "There is no master volume! 127 has been set!";
const Bytes kEot = {0xFF, 0x2F, 0x00}, kTempo = {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};
const Bytes k44 = {0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08}, kOn = {0x90, 60, 64}, kOff = {0x80, 60, 64};

const Events kOneNote = {Ev(0, kOn), Ev(96, kOff), Ev(0, kEot)};

Bytes OneNote(int format)
{
    return Smf(format, 1, 96, {kOneNote});
}

Deltas DeltasOf(const MidiTrackData& track)
{
    Deltas out;
    for (std::int32_t i = 0; i < track.count(); ++i)
        out.push_back(track.event(i).delta);
    return out;
}

std::vector<NoteAt> Notes(const MidiTrackData& track)
{
    std::vector<NoteAt> out;
    std::int64_t tick = 0;
    for (std::int32_t i = 0; i < track.count(); ++i) {
        const MidiEvent& e = track.event(i);
        tick += e.delta;
        if (e.kind == K::Note)
            out.emplace_back(tick, e.channel, e.data1, e.duration, e.velocity);
    }
    return out;
}

class SongFiles : public ::testing::Test {
protected:
    void SetUp() override { MidiTrackData::ResetRunningStatus(); }
    std::string Write(const Bytes& bytes) { return dir.write("song" + std::to_string(files++) + ".mid", bytes); }
    void ExpectRefused(const std::string& path, const Strings& messages)
    {
        MidiFileLoader loader(path);
        EXPECT_EQ(shown.take(), messages) << path;
        EXPECT_EQ(std::make_tuple(loader.size(), loader.song(), loader.path()), std::make_tuple(0u, nullptr, path));
    }

    test::TempDir dir;
    ScopedMessageCapture shown;
    int files = 0;
};
using SmfFileRead = SongFiles;
using SongFormat0 = SongFiles;
using SongFormat1 = SongFiles;
using LoaderTest = SongFiles;

// What a look at a file tells (sonrigo-cli info): opened, size, too large,
// MacBinary, header found, format, tracks declared, division, readable.
using Info = std::tuple<bool, std::int32_t, bool, bool, bool, int, std::int32_t, std::int32_t, bool>;
Info Fields(const SmfFileInfo& i)
{
    return {i.opened, i.size, i.tooLarge, i.macBinary, i.headerFound, i.format, i.declaredTracks, i.division, i.readable()};
}

// Read whole up to the buffer's capacity; a file of the capacity is cut to it
// with a warning. What cannot be opened (missing, a directory, a pipe) names
// the path and reads nothing.
TEST_F(SmfFileRead, InspectSmfFileReadsUpToCapacityAndNamesWhatItCannotOpen)
{
    Bytes under = OneNote(1), full = OneNote(1);
    under.resize(983039);
    full.resize(983040);
    const std::string missing = (dir.path() / "missing.mid").string(), fifo = (dir.path() / "pipe.mid").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Info unopened{false, 0, false, false, false, -1, -1, -1, false};
    const auto prefixedSize = static_cast<std::int32_t>(OneNote(0).size()) + 128;
    const std::tuple<std::string, Info, Strings> cases[] = {
        {Write(under), {true, 983039, false, false, true, 1, 1, 96, true}, {}},
        {Write(full), {true, 983040, true, false, true, 1, 1, 96, false}, {"data size is too large!"}},
        {Write({}), {true, 0, false, false, false, -1, -1, -1, false}, {}},
        {Write(WithMacBinaryPrefix(OneNote(0))), {true, prefixedSize, false, true, true, 0, 1, 96, true}, {}},
        {Write({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1}), {true, 10, false, false, true, 1, -1, -1, false}, {}},
        {missing, unopened, {"Cant open file!", missing}},
        {dir.path().string(), unopened, {"Cant open file!", dir.path().string()}},
        {fifo, unopened, {"Cant open file!", fifo}},
    };
    for (const auto& [path, info, messages] : cases) {
        EXPECT_EQ(Fields(InspectSmfFile(path)), info) << path;
        EXPECT_EQ(shown.take(), messages) << path;
    }
}

TEST_F(SmfFileRead, ABufferAfterOthersIsZeroedThroughoutAsAFreshOne)
{
    const std::string file = dir.write("file.mid", Bytes(5000, 0x33));
    for (int round = 0; round < 3; ++round) {
        SmfBuffer first, second, third;  // two blocks go back to be used again
        std::fill(first.block().begin(), first.block().end(), 0xA5);
        ASSERT_EQ(ReadWholeFile(file, second), 1);
        third.block().back() = 0x01;
    }
    SmfBuffer next, another;
    for (const SmfBuffer* buffer : {&next, &another})
        EXPECT_TRUE(std::all_of(buffer->data(), buffer->data() + buffer->capacity(), [](std::uint8_t b) { return b == 0; }));
}

// By bytes 8-9 (a file without "MThd" is the loader's test); never past a
// short block; a MacBinary prefix is removed in place, the length kept and the
// bytes freed zeroed (the loader's test reads such a song).
TEST(DetectSmfFormat, DecidesByTheFormatFieldAndRemovesAMacBinaryPrefix)
{
    for (const auto& [format, expected] : {std::pair{0, 0}, {1, 1}, {2, -1}, {0x0100, -1}, {0x7001, -1}}) {
        Bytes bytes = SmfHeader(format, 1, 96);
        EXPECT_EQ(DetectSmfFormat(bytes), expected) << format;
    }
    // Exact-size heap copies, so that AddressSanitizer sees any read past them.
    const Bytes header = SmfHeader(0, 1, 96);
    for (std::size_t length = 0; length < 10; ++length) {
        Bytes exact(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(length));
        exact.shrink_to_fit();
        EXPECT_EQ(DetectSmfFormat(exact), -1) << length;
    }
    Bytes prefixedShort = WithMacBinaryPrefix(SmfHeader(1, 1, 96));
    prefixedShort.resize(128 + 9);
    EXPECT_EQ(DetectSmfFormat(prefixedShort), -1);

    const Bytes song = OneNote(1);
    Bytes bytes = WithMacBinaryPrefix(song);
    EXPECT_EQ(DetectSmfFormat(bytes), 1);
    EXPECT_EQ(bytes, test::Join(song, Bytes(128, 0)));
    // "MThd" at both places, or one byte too short for a header at 128: no prefix.
    Bytes both = WithMacBinaryPrefix(song), cut = WithMacBinaryPrefix(song);
    std::copy(song.begin(), song.begin() + 4, both.begin());
    cut.resize(131);
    EXPECT_EQ(std::pair(HasMacBinaryPrefix(both), HasMacBinaryPrefix(cut)), std::pair(false, false));
}

// Bars as the first time signature has them; without one, or at a division of
// 0, bars of 384. (The reader mends a signature of numerator or denominator 0.)
// The play copy is at 96 ticks a quarter, in on/off form, and so trimmed.
TEST_F(SongFormat0, TrimLeadingBarsCutsToTheBarOfTheFirstNoteAsThePlayCopyIs)
{
    const auto signature = [](std::uint8_t numerator, std::uint8_t exponent) {
        return Ev(0, {0xFF, 0x58, 0x04, numerator, exponent, 0x18, 0x08});
    };
    const struct { const char* what; int division; Events events; std::int32_t cut; Deltas after; } cases[] = {
        {"first note at 800 in 4/4", 96,
         {Ev(0, k44), Ev(100, {0xC0, 5}), Ev(680, {0xB0, 7, 100}), Ev(20, kOn), Ev(96, kOff), Ev(0, kEot)}, 768, {0, 0, 12, 20, 96}},
        {"no time signature: bars of 384 at any division", 480,
         {Ev(0, {0xB0, 7, 100}), Ev(800, kOn), Ev(96, kOff), Ev(0, kEot)}, 768, {0, 32, 96}},
        {"no note: the whole length in bars", 96, {Ev(0, k44), Ev(1000, {0xB0, 7, 100}), Ev(200, kEot)}, 1152, {0, 0, 48}},
        {"3/4", 96, {signature(3, 2), Ev(600, kOn), Ev(96, kOff), Ev(0, kEot)}, 576, {0, 24, 96}},
        {"6/8", 96, {signature(6, 3), Ev(600, kOn), Ev(96, kOff), Ev(0, kEot)}, 576, {0, 24, 96}},
        {"2/4 at 480", 480, {signature(2, 2), Ev(2000, kOn), Ev(96, kOff), Ev(0, kEot)}, 1920, {0, 80, 96}},
        {"3/4 at a division of 0", 0, {signature(3, 2), Ev(800, kOn), Ev(96, kOff), Ev(0, kEot)}, 768, {0, 32, 96}},
    };
    for (const auto& c : cases) {
        MidiF0Data song(Write(Smf(0, 1, c.division, {c.events})));
        EXPECT_EQ(song.TrimLeadingBars(), c.cut) << c.what;
        EXPECT_EQ(DeltasOf(song.track()), c.after) << c.what;
    }

    MidiF0Data song(Write(Smf(0, 1, 480, {{Ev(0, k44), Ev(4000, kOn), Ev(480, {0x80, 60, 0}), Ev(0, kEot)}})));
    std::int32_t cut = -1;
    const std::unique_ptr<MidiF0Data> copy = song.MakePlayCopy(cut);
    EXPECT_EQ(cut, 768);  // tick 4000 at 480 is 800 at 96, in the third 4/4 bar
    EXPECT_EQ(std::make_tuple(copy->division(), copy->state()), std::make_tuple(96, TrackState::OnOff));
    EXPECT_EQ(DeltasOf(copy->track()), (Deltas{0, 32, 96, 0}));
    EXPECT_EQ(std::make_tuple(copy->track().event(1).kind, copy->track().event(2).kind), std::make_tuple(K::NoteOn, K::NoteOff));
    EXPECT_EQ(DeltasOf(song.track()), (Deltas{0, 4000, 480})) << "the song itself is left as it was";
    EXPECT_EQ(shown.take(), Strings{});
}

// A GS rhythm-part exclusive names a part's channel, but is no channel event.
TEST_F(SongFormat1, ThreeTracksGetOneMasterVolumeInTheFirstTrackWithAChannel)
{
    const Bytes gsRhythmPart = {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7};
    MidiFileLoader loader(Write(Smf(1, 3, 96,
                                    {{Ev(0, {0xFF, 0x03, 1, 'A'}), Ev(0, kTempo), Ev(0, gsRhythmPart), Ev(0, kEot)},
                                     {Ev(0, {0xFF, 0x03, 1, 'B'}), Ev(0, kOn), Ev(96, kOff), Ev(0, kEot)},
                                     {Ev(0, {0x91, 64, 80}), Ev(48, {0x81, 64, 0}), Ev(48, kEot)}})));
    EXPECT_EQ(shown.take(), Strings{kNoMasterVolume});
    ASSERT_NE(loader.song(), nullptr);
    MidiF1Data& song = *loader.song();
    EXPECT_EQ(std::make_tuple(song.trackCount(), song.state()), std::make_tuple(3, TrackState::Duration));
    const MidiEvent& volume = song.track(1).event(0);
    EXPECT_EQ(std::tie(volume.kind, volume.subtype, volume.value), std::make_tuple(K::SysEx, 1, 127));
    EXPECT_EQ(Bytes(volume.payloadBytes().begin(), volume.payloadBytes().end()),
              (Bytes{0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7F, 0xF7}));
    EXPECT_EQ(song.track(0).findMasterVolume() + song.track(2).findMasterVolume(), -2);
    loader.Flatten();
    ASSERT_NE(loader.playable(), nullptr);
    std::string name;
    EXPECT_TRUE(loader.playable()->track().findMetaText(3, name));
    // Merged from the last track to the first, each merge putting the name
    // gathered so far before the name of the track merged in.
    EXPECT_EQ(name, "B / A");
    EXPECT_EQ(shown.take(), Strings{});
}

TEST_F(SongFormat1, TrackLimitAndMasterVolumes)
{
    MidiF1Data many(Write(Smf(1, 64, 96, std::vector<Events>(64, {Ev(0, kEot)}))));
    EXPECT_EQ(shown.take(), (Strings{"The number of Track is too many!", kNoMasterVolume}));
    EXPECT_EQ(many.trackCount(), 32);
    EXPECT_EQ(many.track(0).findMasterVolume(), 127);  // every track is channel-less
    const auto volume = [](std::uint8_t v) { return Ev(0, {0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, v, 0xF7}); };
    MidiF1Data two(Write(Smf(1, 2, 96,
                             {{volume(90), volume(100), Ev(0, kOn), Ev(96, kOff), Ev(0, kEot)},
                              {volume(50), Ev(0, {0x91, 62, 64}), Ev(96, {0x81, 62, 64}), Ev(0, kEot)}})));
    const Strings several{"There are more than two master volume!"};
    EXPECT_EQ(shown.take(), (Strings{"複数のマスターボリュームが設定されています。", several[0]}));
    EXPECT_EQ(two.track(0).count(), 4) << "a master volume was inserted";
    // The first track's counts, and of its two the last; the second in a track is noticed once.
    EXPECT_EQ(two.FindSongMasterVolume(), 100);
    EXPECT_EQ(shown.take(), several);
}

// Each track ends once, though the song has a second End of Track just after its first.
TEST_F(SongFormat1, Format0SongSplitsIntoSeventeenTracksEndingTogether)
{
    MidiFileLoader loader(Write(Smf(0, 1, 96,
                                    {{Ev(0, kTempo), Ev(0, {0xFF, 0x03, 1, 'S'}), Ev(0, kOn), Ev(0, {0x99, 36, 100}),
                                      Ev(96, kOff), Ev(0, {0x89, 36, 64}), Ev(288, kEot), Ev(0, kEot)}})));
    EXPECT_EQ(shown.take(), Strings{});
    ASSERT_NE(loader.song(), nullptr);
    const MidiF1Data& song = *loader.song();
    ASSERT_EQ(song.trackCount(), 17);
    for (std::int32_t t = 0; t < 17; ++t) {
        const MidiTrackData& track = song.track(t);
        ASSERT_EQ(track.count(), t == 0 ? 3 : t == 1 || t == 10 ? 2 : 1) << "track " << t;
        const Deltas deltas = DeltasOf(track);
        const MidiEvent& last = track.event(track.count() - 1);
        EXPECT_EQ(std::accumulate(deltas.begin(), deltas.end(), 0), 384) << "track " << t;
        EXPECT_EQ(std::make_tuple(last.kind, last.subtype, last.length), std::make_tuple(K::Meta, 0x2F, 3))
            << "track " << t;
    }
    EXPECT_EQ(std::make_tuple(song.track(0).event(0).subtype, song.track(0).event(1).subtype), std::make_tuple(0x51, 3));
    EXPECT_EQ(Notes(song.track(1)), (std::vector<NoteAt>{{0, 0, 60, 96, 64}}));
    EXPECT_EQ(Notes(song.track(10)), (std::vector<NoteAt>{{0, 9, 36, 96, 100}}));
}

TEST_F(LoaderTest, Format0AndFormat1OfTheSameMusicFlattenAlikeWithOrWithoutMacBinary)
{
    const Bytes f0 = Smf(0, 1, 120,
                         {{Ev(0, kTempo), Ev(0, kOn), Ev(0, {0x91, 48, 80}), Ev(96, kOff), Ev(0, {0x90, 62, 65}),
                           Ev(96, {0x80, 62, 64}), Ev(0, {0x81, 48, 64}), Ev(0, kEot)}});
    const Bytes f1 = Smf(1, 2, 120,
                         {{Ev(0, kTempo), Ev(0, kOn), Ev(96, kOff), Ev(0, {0x90, 62, 65}), Ev(96, {0x80, 62, 64}), Ev(0, kEot)},
                          {Ev(0, {0x91, 48, 80}), Ev(192, {0x81, 48, 64}), Ev(0, kEot)}});
    // At equal ticks track 0's notes come before track 1's.
    const std::vector<NoteAt> expected = {{0, 0, 60, 96, 64}, {0, 1, 48, 192, 80}, {96, 0, 62, 96, 65}};
    for (const Bytes& plain : {f0, f1}) {
        for (const Bytes& file : {plain, WithMacBinaryPrefix(plain)}) {
            const std::string what = "format " + std::to_string(plain[9]) + (file.size() > plain.size() ? " after MacBinary" : "");
            MidiFileLoader loader(Write(file));
            EXPECT_EQ(loader.size(), file.size()) << what;
            loader.Flatten();
            EXPECT_EQ(shown.take(), plain[9] == 1 ? Strings{kNoMasterVolume} : Strings{}) << what;
            ASSERT_NE(loader.playable(), nullptr) << what;
            EXPECT_EQ(std::make_tuple(loader.playable()->state(), loader.playable()->division()),
                      std::make_tuple(TrackState::Duration, 120)) << what;
            EXPECT_EQ(Notes(loader.playable()->track()), expected) << what;
        }
    }
}

// Files refused, or just under the size limit loaded; a file that passes
// detection but neither reader accepts is tried once each way: it ends with no
// song, or an empty one, after a few messages.
TEST_F(LoaderTest, RefusedFilesLeaveNoSongAndFilesOfNeitherFormatAreTriedOnceEachWay)
{
    Bytes under = OneNote(0), tooLarge = OneNote(0), format2 = OneNote(0), noHeaderId = OneNote(1);
    under.resize(983039);
    tooLarge.resize(983040);
    format2[9] = 2;
    noHeaderId[0] = 'X';
    EXPECT_EQ(MidiFileLoader(Write(under)).size(), 983039u);
    EXPECT_EQ(shown.take(), Strings{});
    ExpectRefused(Write(tooLarge), {"Data are too large! MidiFileLoader can not load data!"});
    const std::string missing = (dir.path() / "missing.mid").string();
    ExpectRefused(missing, {"Midiファイルが開けませんでした。" + missing});
    ExpectRefused(Write(format2), {"This is not a Midi file!"});
    ExpectRefused(Write(Smf(1, 0, 96, {})), {kNoMasterVolume});
    ExpectRefused(Write(noHeaderId), {"This is not Midi file!", kNoMasterVolume});

    MidiFileLoader emptied(Write(Smf(0, 2, 96, {kOneNote, kOneNote})));
    EXPECT_EQ(shown.take(), (Strings{"This file is not format 1 of midi.", kNoMasterVolume}));
    ASSERT_NE(emptied.song(), nullptr);
    EXPECT_EQ(emptied.song()->trackCount(), 17);
    emptied.Flatten();
    ASSERT_NE(emptied.playable(), nullptr);
    EXPECT_EQ(Notes(emptied.playable()->track()), std::vector<NoteAt>{});
    EXPECT_EQ(shown.take(), Strings{});
}

TEST_F(LoaderTest, AsksTheFileDialogAndACancelLoadsNothing)
{
    const std::string path = Write(OneNote(0));
    auto dialog = std::make_shared<HeadlessFileDialog>();
    struct Restore { std::shared_ptr<FileDialog> previous; ~Restore() { InstallFileDialog(previous); } } restore{InstallFileDialog(dialog)};
    dialog->queueAnswer(path);
    dialog->queueAnswer("");

    MidiFileLoader chosen;
    EXPECT_EQ(std::make_tuple(chosen.path(), chosen.song() != nullptr), std::make_tuple(path, true));
    MidiFileLoader cancelled;
    EXPECT_EQ(std::make_tuple(cancelled.size(), cancelled.path(), cancelled.song()), std::make_tuple(0u, "", nullptr));
    EXPECT_EQ(shown.take(), Strings{});
    const auto requests = dialog->requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& r : requests)
        EXPECT_EQ(std::tie(r.defaultExtension, r.filter, r.initialName), std::make_tuple("mid", "SMF files|*.mid|", ""));
}

// Every file: where an independent parser found a plain header we read the
// same fields, and it loads to a song whose records are sound, or shows a
// message.
TEST_F(LoaderTest, EveryCorpusFileReadsAsTheManifestSaysAndGivesASongOrAMessage)
{
    const std::filesystem::path corpus = SONRIGO_CORPUS_DIR;
    std::ifstream manifest(corpus / "MANIFEST.tsv");
    if (!manifest)
        GTEST_SKIP() << "no MIDI corpus beside the project";
    // Merging and copying the songs above 64 KiB takes seconds in all under
    // the sanitizers: those are loaded only.
    constexpr long kLargestFlattened = 64 * 1024;
    int checked = 0;
    for (std::string line; std::getline(manifest, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        Strings fields;
        std::stringstream row(line);
        for (std::string field; std::getline(row, field, '\t');)
            fields.push_back(field);
        ++checked;
        const std::string& name = fields[0];
        const std::string path = (corpus / name).string();
        shown.take();  // what the previous song showed as it was released
        ASSERT_GE(fields.size(), 6u) << name;
        const SmfFileInfo info = InspectSmfFile(path);
        ASSERT_TRUE(info.opened) << name;
        EXPECT_EQ(info.size, std::stoi(fields[1])) << name;
        // RIFF-wrapped files (RMID) have their header further in: not ours to read.
        if (!fields[3].empty() && (fields.size() < 8 || fields[7].find("RIFF") == std::string::npos)) {
            const int format = std::stoi(fields[3]);
            EXPECT_EQ(std::tuple(info.headerFound, info.macBinary, info.declaredTracks, info.division, info.format,
                                 info.readable()),
                      std::tuple(true, false, std::stoi(fields[4]), std::stoi(fields[5], nullptr, 0),
                                 format == 0 || format == 1 ? format : -1, format == 0 || format == 1)) << name;
        } else {
            EXPECT_FALSE(info.readable()) << name;
        }
        EXPECT_TRUE(shown.take().empty()) << name;

        MidiTrackData::ResetRunningStatus();
        MidiFileLoader loader(path);
        if (loader.size() == 0) {
            EXPECT_FALSE(shown.take().empty()) << name;
            continue;
        }
        ASSERT_NE(loader.song(), nullptr) << name;
        for (std::int32_t t = 0; t < loader.song()->trackCount(); ++t) {
            const MidiTrackData& track = loader.song()->track(t);
            for (std::int32_t i = 0; i < track.count(); ++i) {
                const MidiEvent& e = track.event(i);
                ASSERT_GE(e.delta, 0) << name << " track " << t << " record " << i;
                ASSERT_TRUE(e.channel == kNoChannel || (e.channel >= 0 && e.channel < 16)) << name;
                ASSERT_TRUE(e.length >= 0 && static_cast<std::size_t>(e.length) <= e.payloadCapacity()) << name;
            }
        }
        if (std::stol(fields[1]) > kLargestFlattened)
            continue;
        loader.Flatten();
        const MidiF0Data* playable = loader.playable();
        ASSERT_NE(playable, nullptr) << name;
        std::int32_t cut = -1;
        EXPECT_EQ(playable->MakePlayCopy(cut)->state(), TrackState::OnOff) << name;
        EXPECT_GE(cut, 0) << name;
    }
    EXPECT_GT(checked, 200);
}

}  // namespace
}  // namespace sonrigo
