#include <gtest/gtest.h>

#include <utility>

#include "common/FileName.h"
#include "common/MusicUnits.h"

namespace sonrigo {
namespace {

// The last element of a Windows or POSIX path. In code page 932 text a 0x5C
// trail byte is not a separator; in UTF-8 text a 0x5C byte always is.
TEST(FileNameFromPath, TakesTheLastElementKeepingDoubleByteCharacters)
{
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\music\\song.mid", "song.mid"}, {"song.mid", "song.mid"}, {"/home/me/midi/song.mid", "song.mid"},
        {"/song.mid", "song.mid"}, {"dir/", ""}, {"", ""},
        {"\\song.mid", "\\song.mid"},  // a backslash at index 0 is never a separator
        {"a\\b/c\\d.mid", "d.mid"},
        // "表" (95 5C); "ソ" (83 5C) right after a separator; a backslash after
        // two lead-byte values counts (the i-2 rule).
        {"C:\\music\\\x95\\.mid", "\x95\\.mid"}, {"C:\\\x83\\" "\\" "\x83\\" ".mid", "\x83\\.mid"},
        {"C:\\\x82\xa0\x81\x81\\x.mid", "x.mid"},
        // "実" is E5 AE 9F, whose last byte is a code page 932 lead byte.
        {"C:\\music\\実\\song.mid", "song.mid"}, {"/home/me/音楽/曲.mid", "曲.mid"},
    };
    for (const auto& [path, name] : cases)
        EXPECT_EQ(FileNameFromPath(path), name) << path;
}

TEST(MusicUnits, TempoToBpmTruncatesAndNeverDividesByZero)
{
    // Whole milliseconds per quarter: 1999 us counts as 1 ms; below 1000 us as 1000.
    for (const auto& [tempo, bpm] : {std::pair{500000, 120}, {750000, 80}, {1000, 60000}, {1999, 60000},
                                     {0xFFFFFF, 3}, {999, 60000}, {0, 60000}, {-5, 60000}})
        EXPECT_EQ(TempoToBpm(tempo), bpm) << tempo;
}

}  // namespace
}  // namespace sonrigo
