#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "common/ErrorTable.h"
#include "platform/MidiOutput.h"

namespace sonrigo {

// One opened MIDI output port of CurrentMidiOutputSystem(). The sequencer
// creates it (device -1, the system's default output) on the playback thread,
// sends through it on its timer thread and closes it on the playback thread;
// it never sends while opening or closing, so the object needs no lock.
//
// Short messages are packed as status | data1 << 8 | data2 << 16 and sent as
// their bytes: 2 for program change and channel pressure (and F1, F3), 1 for
// F6 and real-time, 3 for the rest. A status below 0x80 or F0, F4, F5, F7 is
// not a short message and fails. Channel arguments (0-15) are added to the
// status without masking; data bytes go out as packed.
class MidiControler {
public:
    explicit MidiControler(int deviceId);
    ~MidiControler();
    MidiControler(const MidiControler&) = delete;
    MidiControler& operator=(const MidiControler&) = delete;

    // Opens the port (any port already open is dropped first). With no output
    // port at all, "Can not open Midi device!" is shown only the first time in
    // the process; when opening fails, every time. isOpen() tells the result.
    void Open(int deviceId);
    // Silences and closes the port; each of the two that fails shows "Can not
    // close Midi device!". Nothing happens without an open port.
    void Close();
    bool isOpen() const { return port_ != nullptr; }

    // These return whether the port took the message and show nothing, except
    // SendProgramChange, which shows "Can not change tone with Midi device!"
    // when it fails. No port: they fail. None allocates.
    bool SendNoteOn(int note, int velocity, int channel);  // velocity's low byte, at most 127
    bool SendNoteOff(int note, int channel);               // release velocity 0
    bool SendProgramChange(int program, int channel);
    bool SendShortMessage(int data2, int data1, int status);  // each argument's low 8 bits

    // A system-exclusive message, sent whole whatever its length.
    //
    // File form (bytes[0] == F0): F0, a variable-length quantity of 1 to 4
    // bytes, then the body; F0 followed by the body is sent, the body being
    // everything after the length field up to `length` bytes in all (the
    // field's value is not trusted over `length`). Any other input is sent as
    // its `length` bytes, unchanged.
    //
    // A failure sounds Beep(1000, 1000) and shows no message: no port, a
    // failed send, no bytes (length < 1 or null), and file forms that are
    // malformed: a length field that runs to the end of the input or past 4
    // bytes, or nothing after it. Malformed input is not sent at all.
    // May allocate for a message longer than any sent before (over 256 bytes).
    bool SendSysEx(std::int32_t length, const std::uint8_t* bytes);
    // General MIDI System On, F0 7E 7F 09 01 F7, through SendSysEx.
    bool SendGmSystemOn();

    // Shows the text of one of this component's codes (its catch-all for any
    // other) and returns it. Uses no state of an object.
    static std::string_view ReportError(ErrorCode code);

    // For tests: lets the next Open without any output port report again, as
    // in a fresh process.
    static void RearmMissingDeviceReport();

private:
    bool sendPacked(std::uint32_t packed);

    std::unique_ptr<MidiOutputPort> port_;  // null: no port open
    std::vector<std::uint8_t> sysEx_;       // file-form messages are rebuilt here
};

}  // namespace sonrigo
