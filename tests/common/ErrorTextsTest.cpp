#include <gtest/gtest.h>

#include <string>
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
    const std::pair<int, const char*> known[] = {
        {2, "Needs more memory!"},  {4, "Quit and restart!"},
        {5, "Cant find file!"},     {6, "16 digit error"},
        {7, "Cant open file!"},     {10, "data size is too large!"},
        {11, "parameter is wrong"}, {12, "Can not get current directory"},
        {13, "file size error!"},
    };
    for (const auto& [code, text] : known) {
        EXPECT_EQ(ReportGeneralError(code), text);
        EXPECT_EQ(captured.take(), Strings{text}) << "code " << code;
    }
    for (int code : {0, 1, 3, 8, 9, 14, 99, -1, -7, 0x0D000001}) {
        EXPECT_EQ(ReportGeneralError(code), "General Error") << "code " << code;
        EXPECT_EQ(captured.take(), Strings{"General Error"});
    }
}

struct TableCase {
    const ErrorTable* table;
    ErrorCode code;
    const char* text;
};

TEST(ComponentErrors, EveryCodeShowsItsExactText)
{
    const TableCase cases[] = {
        {&kMidiTrackDataErrors, 0x0D000001, "MidiTrackData Internal Error"},
        {&kMidiTrackDataErrors, 0x0D000002, "Undefined Midi Event"},
        {&kMidiTrackDataErrors, 0x0D000005, "Tempo is wrong."},
        {&kMidiTrackDataErrors, 0x0D000006, "Large data"},
        {&kMidiTrackDataErrors, 0x0D000007, "This is not a midi file."},
        {&kMidiTrackDataErrors, 0x0D00000C, "Wrong program change is modified to zero."},
        {&kMidiTrackDataErrors, 0x0D00000B, "サイズが大きすぎるイベントが含まれています。"},
        {&kMidiTrackDataErrors, 0x0D000011, "複数のマスターボリュームが設定されています。"},
        {&kMidiTrackDataErrors, 0x0D000017,
         "内部処理のエラーでノートナンバーが異常になりましたので０に修正しました。"},
        {&kMidiF0DataErrors, 0x04000001, "This file is not Format 0!"},
        {&kMidiF0DataErrors, 0x04000002, "Can not open the file!"},
        {&kMidiF0DataErrors, 0x04000003, "The number of track is invalid! in MidiF0Data!"},
        {&kMidiF0DataErrors, 0x04000004, "This is not a MIDI file. Or maybe mac binary is attached to the file!"},
        {&kMidiF0DataErrors, 0x04000005, "Internal error occured in MidiF0Data!"},
        {&kMidiF1DataErrors, 0x02000001, "The number of Track is too many!"},
        {&kMidiF1DataErrors, 0x02000002, "This file is not format 1 of midi."},
        {&kMidiF1DataErrors, 0x02000003, "Internal error has been occured in MidiF1Data!"},
        {&kMidiF1DataErrors, 0x02000004, "This is not Midi file!"},
        {&kMidiF1DataErrors, 0x02000005, "Can not open file!"},
        {&kMidiF1DataErrors, 0x02000006, "There are more than two master volume!"},
        {&kMidiF1DataErrors, 0x02000007,
         "Program change is set to drum.(SysEx has been found that use channel other than 10.)"},
        {&kMidiF1DataErrors, 0x02000008, "Time Sing error!"},
        {&kMidiF1DataErrors, 0x02000009, "Too many tempo data have been found!"},
        {&kMidiF1DataErrors, 0x0200000A, "There are more than two SysExTrack!"},
        {&kMidiF1DataErrors, 0x0200000B, "There are more than two system channel!"},
        {&kMidiF1DataErrors, 0x0200000C, "Duplicate Channel has been found!"},
        {&kMidiF1DataErrors, 0x02000011,
         "Try to divide track with more than two program change. There is no spare channel!"},
        {&kMidiF1DataErrors, 0x02000012, "No drum track has been found!"},
        {&kMidiF1DataErrors, 0x02000015, "There is a treck that has no program change. 0 has been set!"},
        {&kMidiF1DataErrors, 0x02000016, "There is no master volume! 127 has been set!"},
        {&kMidiF1DataErrors, 0x02000017, "More than two pitch bend sensitivity were set to one track"},
        {&kMidiF1DataErrors, 0x02000018, "There is a track where pitch bend sensitivity is zero!"},
        {&kMidiF1DataErrors, 0x02000019, "Data is too large!"},
        {&kMidiFileLoaderErrors, 0x17000001, "Internal error occured in MidiFileLoader!"},
        {&kMidiFileLoaderErrors, 0x17000002, "This is not a Midi file!"},
        {&kMidiFileLoaderErrors, 0x17000003, "Data are too large! MidiFileLoader can not load data!"},
        {&kMidiPlayerErrors, 0x08000001, "Division is too large!"},
        {&kMidiPlayerErrors, 0x08000002, "Can not use timer!"},
        {&kMidiPlayerErrors, 0x08000003, "Tempo is too slow!"},
        {&kMidiPlayerErrors, 0x08000004, "Internal error occured in MidiPlayer!"},
        {&kMusicPlayerErrors, 0x09000001, "Internal Error occured in MusicPlayer!"},
        {&kMidiControlerErrors, 0x07000001, "Can not open Midi device!"},
        {&kMidiControlerErrors, 0x07000002, "Can not close Midi device!"},
        {&kMidiControlerErrors, 0x07000003, "Can not change tone with Midi device!"},
        {&kMidiControlerErrors, 0x07000004, "Can not send system exclusive with midi device!"},
        {&kMidiControlerErrors, 0x07000005, "Invalid parameter in Midi!"},
    };
    test::CaptureMessages captured;
    for (const TableCase& c : cases) {
        EXPECT_EQ(c.table->report(c.code), c.text) << std::hex << c.code;
        EXPECT_EQ(captured.take(), Strings{c.text}) << std::hex << c.code;
    }
}

TEST(ComponentErrors, UnknownCodesAndZeroShowTheCatchAll)
{
    const std::pair<const ErrorTable*, const char*> catchAlls[] = {
        {&kMidiTrackDataErrors, "MidiTrackData error."},
        {&kMidiF0DataErrors, "Error occurd in MidiF0Data!"},
        {&kMidiF1DataErrors, "MidiF1Data Error!"},
        {&kMidiFileLoaderErrors, "Error occured in MidiFileLoader!"},
        {&kMidiPlayerErrors, "Error occured in MidiPlayer!"},
        {&kMusicPlayerErrors, "Error occured in MusicPlayer!"},
        {&kMidiControlerErrors, "Error occured in MidiControler!"},
    };
    test::CaptureMessages captured;
    for (const auto& [table, text] : catchAlls) {
        // Code 0, a number missing from the table, and another component's code.
        for (ErrorCode code : {ErrorCode{0}, ErrorCode{0x0D00000E}, ErrorCode{0x02000013}, ErrorCode{0x7F000001}}) {
            if (table->textFor(code) != table->catchAll())
                continue;  // the code happens to belong to this table
            EXPECT_EQ(table->report(code), text);
            EXPECT_EQ(captured.take(), Strings{text});
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
