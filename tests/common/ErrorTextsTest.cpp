#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/ErrorTexts.h"
#include "common/WarnOnceReporter.h"
#include "support/CaptureMessages.h"

namespace sonrigo {
namespace {

using Strings = std::vector<std::string>;

TEST(GeneralErrors, KnownCodesShowTheirTextsAndEverythingElseIsGeneralError)
{
    test::CaptureMessages captured;
    EXPECT_EQ(ReportGeneralError(7), "Cant open file!");
    EXPECT_EQ(captured.take(), Strings{"Cant open file!"});
    // The gaps between the listed codes, and negative values, which must not wrap.
    for (int code : {0, 1, 3, 8, 9, 14, 99, -1, -7, 0x0D000001}) {
        EXPECT_EQ(ReportGeneralError(code), "General Error") << "code " << code;
        EXPECT_EQ(captured.take(), Strings{"General Error"});
    }
}

// A text of a table, a Japanese notice among them; unknown codes and zero
// show the table's catch-all.
TEST(ComponentErrors, CodesShowTheirTextsAndEverythingElseTheCatchAll)
{
    const std::tuple<const ErrorTable*, ErrorCode, const char*, const char*> tables[] = {
        {&kMidiTrackDataErrors, MidiTrackDataError::SeveralMasterVolumes, "複数のマスターボリュームが設定されています。",
         "MidiTrackData error."},
        {&kMusicPlayerErrors, MusicPlayerError::Internal, "Internal Error occured in MusicPlayer!",
         "Error occured in MusicPlayer!"},
    };
    test::CaptureMessages captured;
    for (const auto& [table, code, text, catchAll] : tables) {
        EXPECT_EQ(table->report(code), text) << std::hex << code;
        EXPECT_EQ(captured.take(), Strings{text}) << std::hex << code;
        // Code 0, a number missing from the table, and another component's code.
        for (ErrorCode other : {ErrorCode{0}, ErrorCode{0x0D00000E}, ErrorCode{0x02000013}, ErrorCode{0x7F000001}}) {
            EXPECT_EQ(table->report(other), catchAll) << std::hex << other;
            EXPECT_EQ(captured.take(), Strings{catchAll});
        }
    }
    // The message number sits in the low 24 bits: a code from another
    // component with the same number is not the same code.
    EXPECT_EQ(kMidiF0DataErrors.textFor(0x02000001), "Error occurd in MidiF0Data!");
    EXPECT_EQ(MakeErrorCode(Component::MidiTrackData, 7), MidiTrackDataError::NotMidiFile);
    EXPECT_EQ(MakeErrorCode(Component::MidiFileLoader, 3), MidiFileLoaderError::DataTooLarge);
}

TEST(WarnOnceReporter, ShowsEachCodeOnceUntilClearedByCodeZero)
{
    test::CaptureMessages captured;
    WarnOnceReporter notices(kMidiTrackDataErrors);
    const std::string oversized = "サイズが大きすぎるイベントが含まれています。";

    EXPECT_EQ(notices.report(MidiTrackDataError::OversizedEvent), oversized);
    EXPECT_EQ(notices.report(MidiTrackDataError::OversizedEvent), oversized);
    EXPECT_EQ(notices.report(MidiTrackDataError::WrongNoteNumber),
              "内部処理のエラーでノートナンバーが異常になりましたので０に修正しました。");
    EXPECT_EQ(captured.take().size(), 2u) << "the repeated code showed again";

    EXPECT_EQ(notices.report(0), "");
    EXPECT_TRUE(captured.take().empty());
    EXPECT_FALSE(notices.wasShown(MidiTrackDataError::OversizedEvent));
    notices.report(MidiTrackDataError::OversizedEvent);
    EXPECT_EQ(captured.take(), Strings{oversized});
}

}  // namespace
}  // namespace sonrigo
