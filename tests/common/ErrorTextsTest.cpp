#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/ErrorTexts.h"
#include "support/CaptureMessages.h"

namespace sonrigo {
namespace {

using Strings = std::vector<std::string>;

// Codes missing from a table (zero, gaps, negative values, which must not
// wrap, and another component's code with the same message number) show the
// table's catch-all, and are shown like any other text.
TEST(ErrorTables, CodesMissingFromATableShowItsCatchAll)
{
    test::CaptureMessages captured;
    for (int code : {0, 3, 14, -1, -7, 0x0D000001})
        EXPECT_EQ(ReportGeneralError(code), "General Error") << "code " << code;
    EXPECT_EQ(captured.take(), Strings(6, "General Error"));
    for (ErrorCode other : {ErrorCode{0}, ErrorCode{0x0D00000E}, ErrorCode{0x02000001}, ErrorCode{0x7F000001}})
        EXPECT_EQ(kMidiTrackDataErrors.report(other), "MidiTrackData error.") << std::hex << other;
    EXPECT_EQ(captured.take().size(), 4u);
}

}  // namespace
}  // namespace sonrigo
