#include "common/ErrorTexts.h"

namespace sonrigo {
namespace {

constexpr ErrorText kGeneralTexts[] = {
    {2, "Needs more memory!"},
    {4, "Quit and restart!"},
    {5, "Cant find file!"},
    {6, "16 digit error"},
    {7, "Cant open file!"},
    {10, "data size is too large!"},
    {11, "parameter is wrong"},
    {12, "Can not get current directory"},
    {13, "file size error!"},
};

constexpr ErrorText kMidiTrackDataTexts[] = {
    {0x0D000001, "MidiTrackData Internal Error"},
    {0x0D000002, "Undefined Midi Event"},
    {0x0D000005, "Tempo is wrong."},
    {0x0D000006, "Large data"},
    {0x0D000007, "This is not a midi file."},
    {0x0D00000C, "Wrong program change is modified to zero."},
    {0x0D00000B, "サイズが大きすぎるイベントが含まれています。"},
    {0x0D000011, "複数のマスターボリュームが設定されています。"},
    {0x0D000017, "内部処理のエラーでノートナンバーが異常になりましたので０に修正しました。"},
};

constexpr ErrorText kMidiF0DataTexts[] = {
    {0x04000001, "This file is not Format 0!"},
    {0x04000002, "Can not open the file!"},
    {0x04000003, "The number of track is invalid! in MidiF0Data!"},
    {0x04000004, "This is not a MIDI file. Or maybe mac binary is attached to the file!"},
    {0x04000005, "Internal error occured in MidiF0Data!"},
};

constexpr ErrorText kMidiF1DataTexts[] = {
    {0x02000001, "The number of Track is too many!"},
    {0x02000002, "This file is not format 1 of midi."},
    {0x02000003, "Internal error has been occured in MidiF1Data!"},
    {0x02000004, "This is not Midi file!"},
    {0x02000005, "Can not open file!"},
    {0x02000006, "There are more than two master volume!"},
    {0x02000007, "Program change is set to drum.(SysEx has been found that use channel other than 10.)"},
    {0x02000008, "Time Sing error!"},
    {0x02000009, "Too many tempo data have been found!"},
    {0x0200000A, "There are more than two SysExTrack!"},
    {0x0200000B, "There are more than two system channel!"},
    {0x0200000C, "Duplicate Channel has been found!"},
    {0x02000011, "Try to divide track with more than two program change. There is no spare channel!"},
    {0x02000012, "No drum track has been found!"},
    {0x02000015, "There is a treck that has no program change. 0 has been set!"},
    {0x02000016, "There is no master volume! 127 has been set!"},
    {0x02000017, "More than two pitch bend sensitivity were set to one track"},
    {0x02000018, "There is a track where pitch bend sensitivity is zero!"},
    {0x02000019, "Data is too large!"},
};

constexpr ErrorText kMidiFileLoaderTexts[] = {
    {0x17000001, "Internal error occured in MidiFileLoader!"},
    {0x17000002, "This is not a Midi file!"},
    {0x17000003, "Data are too large! MidiFileLoader can not load data!"},
};

constexpr ErrorText kMidiPlayerTexts[] = {
    {0x08000001, "Division is too large!"},
    {0x08000002, "Can not use timer!"},
    {0x08000003, "Tempo is too slow!"},
    {0x08000004, "Internal error occured in MidiPlayer!"},
};

constexpr ErrorText kMusicPlayerTexts[] = {
    {0x09000001, "Internal Error occured in MusicPlayer!"},
};

constexpr ErrorText kMidiControlerTexts[] = {
    {0x07000001, "Can not open Midi device!"},
    {0x07000002, "Can not close Midi device!"},
    {0x07000003, "Can not change tone with Midi device!"},
    {0x07000004, "Can not send system exclusive with midi device!"},
    {0x07000005, "Invalid parameter in Midi!"},
};

}  // namespace

const ErrorTable kGeneralErrors{kGeneralTexts, "General Error"};
const ErrorTable kMidiTrackDataErrors{kMidiTrackDataTexts, "MidiTrackData error."};
const ErrorTable kMidiF0DataErrors{kMidiF0DataTexts, "Error occurd in MidiF0Data!"};
const ErrorTable kMidiF1DataErrors{kMidiF1DataTexts, "MidiF1Data Error!"};
const ErrorTable kMidiFileLoaderErrors{kMidiFileLoaderTexts, "Error occured in MidiFileLoader!"};
const ErrorTable kMidiPlayerErrors{kMidiPlayerTexts, "Error occured in MidiPlayer!"};
const ErrorTable kMusicPlayerErrors{kMusicPlayerTexts, "Error occured in MusicPlayer!"};
const ErrorTable kMidiControlerErrors{kMidiControlerTexts, "Error occured in MidiControler!"};

std::string_view ReportGeneralError(int code)
{
    // Negative values must not wrap onto a listed code.
    return kGeneralErrors.report(code < 0 ? ErrorCode{0} : static_cast<ErrorCode>(code));
}

}  // namespace sonrigo
