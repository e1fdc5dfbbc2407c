#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "common/ScopedMessageCapture.h"
#include "smf/SmfBuffer.h"
#include "smf/SmfFile.h"
#include "smf/SmfFileInfo.h"
#include "support/SmfBytes.h"
#include "support/TempDir.h"

namespace sonrigo {
namespace {

using namespace test;
using Strings = std::vector<std::string>;

// A note of one quarter.
Bytes SmallSong(int format)
{
    return Smf(format, 1, 96, {{{0, 0x90, 0x3C, 0x40}, {0x60, 0x3C, 0x00}, {0x00}}});
}

class SmfFileRead : public ::testing::Test {
protected:
    test::TempDir dir;
    ScopedMessageCapture captured;
};

// Up to the buffer's capacity, the block past the file zero; a file of the
// capacity or more is cut to it with a warning. What cannot be opened (missing,
// a directory, a pipe) names the path and reads nothing.
TEST_F(SmfFileRead, ReadWholeFileUpToCapacity)
{
    SmfBuffer buffer;
    Bytes justUnder(983039, 0x5A);
    justUnder.back() = 0x7E;
    EXPECT_EQ(ReadWholeFile(dir.write("under.mid", justUnder), buffer), 1);
    EXPECT_EQ(std::tuple(buffer.size(), buffer.byteAt(983038), buffer.byteAt(983039)), std::tuple(983039, 0x7E, 0));
    EXPECT_TRUE(captured.take().empty());
    for (std::size_t length : {std::size_t{983040}, std::size_t{1200000}, std::size_t{0}}) {
        SmfBuffer other;
        EXPECT_EQ(ReadWholeFile(dir.write("other.mid", Bytes(length, 0x33)), other), 1);
        EXPECT_EQ(other.size(), static_cast<std::int32_t>(std::min<std::size_t>(length, 983040)));
        EXPECT_EQ(captured.take(), length ? Strings{"data size is too large!"} : Strings{}) << length;
    }

    const std::string missing = (dir.path() / "missing.mid").string(), fifo = (dir.path() / "pipe.mid").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {missing, dir.path().string(), fifo}) {
        buffer.setSize(10);
        EXPECT_EQ(ReadWholeFile(path, buffer), 0) << path;
        EXPECT_EQ(buffer.size(), 0);
        EXPECT_EQ(captured.take(), (Strings{"Cant open file!", path}));
    }
}

TEST(SmfBuffer, ABufferAfterOthersIsZeroedThroughoutAsAFreshOne)
{
    test::TempDir dir;
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

    const Bytes song = SmallSong(1);
    Bytes bytes = WithMacBinaryPrefix(song);
    EXPECT_EQ(DetectSmfFormat(bytes), 1);
    ASSERT_EQ(bytes.size(), song.size() + 128);
    EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(song.size()), bytes.end(),
                            [](std::uint8_t b) { return b == 0; }));
    // "MThd" at both places: no prefix; one byte too short for a header at 128: no prefix.
    Bytes both = WithMacBinaryPrefix(song);
    std::copy(song.begin(), song.begin() + 4, both.begin());
    EXPECT_FALSE(HasMacBinaryPrefix(both));
    Bytes cut = WithMacBinaryPrefix(song);
    cut.resize(131);
    EXPECT_FALSE(HasMacBinaryPrefix(cut));
}

TEST(InspectSmfFile, APrefixedFileReadsLikeThePlainOne)
{
    test::TempDir dir;
    ScopedMessageCapture captured;
    const SmfFileInfo plain = InspectSmfFile(dir.write("plain.mid", SmallSong(0)));
    const SmfFileInfo prefixed = InspectSmfFile(dir.write("mac.mid", WithMacBinaryPrefix(SmallSong(0))));
    EXPECT_EQ(std::tuple(plain.readable(), plain.macBinary, plain.format, plain.declaredTracks, plain.division),
              std::tuple(true, false, 0, 1, 96));
    EXPECT_EQ(std::tuple(prefixed.readable(), prefixed.macBinary, prefixed.format, prefixed.declaredTracks,
                         prefixed.division, prefixed.size),
              std::tuple(true, true, 0, 1, 96, plain.size + 128));
    EXPECT_TRUE(captured.take().empty());

    // A division with the top bit set stays a plain tick count; a header
    // length of 8 changes nothing here.
    const SmfFileInfo smpte = InspectSmfFile(dir.write("smpte.mid", SmfHeader(0, 1, 0xE728, 8)));
    EXPECT_EQ(smpte.division, 0xE728);
    EXPECT_TRUE(smpte.readable());

    const SmfFileInfo cutShort = InspectSmfFile(dir.write("cut.mid", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1}));
    EXPECT_FALSE(cutShort.readable());
    EXPECT_EQ(cutShort.format, 1);
    EXPECT_EQ(cutShort.declaredTracks, -1);

    const SmfFileInfo tooLarge = InspectSmfFile(dir.write("large.mid", [] {
        Bytes bytes = SmallSong(1);
        bytes.resize(983040);
        return bytes;
    }()));
    EXPECT_TRUE(tooLarge.tooLarge);
    EXPECT_FALSE(tooLarge.readable());
    EXPECT_EQ(captured.take(), Strings{"data size is too large!"});
}

}  // namespace
}  // namespace sonrigo
