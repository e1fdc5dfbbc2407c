#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "CliInfo.h"
#include "support/CaptureMessages.h"
#include "support/TempDir.h"

namespace sonrigo {
namespace {

TEST(CliInfo, ReportsTheHeaderOfAReadableFile)
{
    test::TempDir dir;
    const std::string path = dir.write("song.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0});
    std::ostringstream out;
    EXPECT_EQ(RunInfo(path, out), 0);
    EXPECT_EQ(out.str(), "file: " + path +
                             "\nsize: 14 bytes\nmacbinary prefix: no\nheader: MThd\nformat: 0\n"
                             "tracks declared: 1\ndivision: 480 ticks per quarter note\n"
                             "result: readable Standard MIDI File\n");
}

TEST(CliInfo, FailsForFilesThePlayerCannotLoad)
{
    test::TempDir dir;
    test::CaptureMessages captured;
    std::ostringstream out;
    EXPECT_EQ(RunInfo(dir.write("format2.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 2, 0, 1, 0, 96}), out), 1);
    EXPECT_NE(out.str().find("format: unsupported"), std::string::npos);
    EXPECT_EQ(RunInfo(dir.write("text.mid", {'h', 'e', 'l', 'l', 'o'}), out), 1);
    EXPECT_EQ(RunInfo((dir.path() / "none.mid").string(), out), 1);
    EXPECT_EQ(captured.take().size(), 2u) << "the open failure and its path";
}

}  // namespace
}  // namespace sonrigo
