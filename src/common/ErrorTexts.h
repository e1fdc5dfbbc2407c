#pragma once

#include <string_view>

#include "common/ErrorTable.h"

// The fixed texts every component shows, and the codes that select them.
// Texts are the program's own and must stay exactly as written.

namespace sonrigo {

// Component numbers (top byte of a code).
namespace Component {
inline constexpr std::uint8_t MidiF1Data = 0x02;
inline constexpr std::uint8_t MidiF0Data = 0x04;
inline constexpr std::uint8_t MidiControler = 0x07;
inline constexpr std::uint8_t MidiPlayer = 0x08;
inline constexpr std::uint8_t MusicPlayer = 0x09;
inline constexpr std::uint8_t MidiTrackData = 0x0D;
inline constexpr std::uint8_t MidiFileLoader = 0x17;
}  // namespace Component

// Generic codes shared by the utilities; not component-qualified.
namespace GeneralError {
inline constexpr int NeedsMoreMemory = 2;
inline constexpr int QuitAndRestart = 4;
inline constexpr int CantFindFile = 5;
inline constexpr int SixteenDigit = 6;
inline constexpr int CantOpenFile = 7;
inline constexpr int DataTooLarge = 10;
inline constexpr int WrongParameter = 11;
inline constexpr int NoCurrentDirectory = 12;
inline constexpr int FileSizeError = 13;
}  // namespace GeneralError

namespace MidiTrackDataError {
inline constexpr ErrorCode Internal = 0x0D000001;
inline constexpr ErrorCode UndefinedEvent = 0x0D000002;
inline constexpr ErrorCode WrongTempo = 0x0D000005;
inline constexpr ErrorCode LargeData = 0x0D000006;
inline constexpr ErrorCode NotMidiFile = 0x0D000007;
inline constexpr ErrorCode OversizedEvent = 0x0D00000B;       // warn-once
inline constexpr ErrorCode WrongProgramChange = 0x0D00000C;
inline constexpr ErrorCode SeveralMasterVolumes = 0x0D000011;  // warn-once
inline constexpr ErrorCode WrongNoteNumber = 0x0D000017;       // warn-once
}  // namespace MidiTrackDataError

namespace MidiF0DataError {
inline constexpr ErrorCode NotFormat0 = 0x04000001;
inline constexpr ErrorCode CantOpenFile = 0x04000002;
inline constexpr ErrorCode WrongTrackCount = 0x04000003;
inline constexpr ErrorCode NotMidiFile = 0x04000004;
inline constexpr ErrorCode Internal = 0x04000005;
}  // namespace MidiF0DataError

namespace MidiF1DataError {
inline constexpr ErrorCode TooManyTracks = 0x02000001;
inline constexpr ErrorCode NotFormat1 = 0x02000002;
inline constexpr ErrorCode Internal = 0x02000003;
inline constexpr ErrorCode NotMidiFile = 0x02000004;
inline constexpr ErrorCode SeveralMasterVolumes = 0x02000006;
inline constexpr ErrorCode NoMasterVolume = 0x02000016;
}  // namespace MidiF1DataError

namespace MidiFileLoaderError {
inline constexpr ErrorCode Internal = 0x17000001;
inline constexpr ErrorCode NotMidiFile = 0x17000002;
inline constexpr ErrorCode DataTooLarge = 0x17000003;
}  // namespace MidiFileLoaderError

namespace MidiPlayerError {
inline constexpr ErrorCode DivisionTooLarge = 0x08000001;
inline constexpr ErrorCode CantUseTimer = 0x08000002;
inline constexpr ErrorCode TempoTooSlow = 0x08000003;
inline constexpr ErrorCode Internal = 0x08000004;
}  // namespace MidiPlayerError

namespace MusicPlayerError {
inline constexpr ErrorCode Internal = 0x09000001;
}  // namespace MusicPlayerError

namespace MidiControlerError {
inline constexpr ErrorCode CantOpen = 0x07000001;
inline constexpr ErrorCode CantClose = 0x07000002;
inline constexpr ErrorCode CantChangeTone = 0x07000003;
inline constexpr ErrorCode CantSendSysEx = 0x07000004;
inline constexpr ErrorCode InvalidParameter = 0x07000005;
}  // namespace MidiControlerError

extern const ErrorTable kGeneralErrors;
extern const ErrorTable kMidiTrackDataErrors;  // its warn-once notices included
extern const ErrorTable kMidiF0DataErrors;
extern const ErrorTable kMidiF1DataErrors;
extern const ErrorTable kMidiFileLoaderErrors;
extern const ErrorTable kMidiPlayerErrors;
extern const ErrorTable kMusicPlayerErrors;
extern const ErrorTable kMidiControlerErrors;

// Components with a single text and no codes.
inline constexpr std::string_view kMidiStatusErrorText = "error in MidiStatus!";
inline constexpr std::string_view kCallBackPlayerErrorText = "CallBackPlayer Error!";
// Shown by the loader when its file cannot be opened, followed directly by the path.
inline constexpr std::string_view kMidiFileCannotBeOpenedText = "Midiファイルが開けませんでした。";

// The generic table: codes 2, 4-7 and 10-13 have texts; every other value,
// negative ones included, shows "General Error". Returns the text shown.
std::string_view ReportGeneralError(int code);

}  // namespace sonrigo
