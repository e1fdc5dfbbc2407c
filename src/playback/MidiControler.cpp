#include "playback/MidiControler.h"

#include <array>
#include <atomic>

#include "common/ErrorTexts.h"
#include "platform/Beep.h"

namespace sonrigo {
namespace {

// Reports a system without any output port once per process run, so that a
// machine with no MIDI device is told once, not at every Play.
std::atomic<bool> gReportMissingDevice{true};

// Exclusive messages in files are mostly resets and parameter changes of a
// few dozen bytes; room for 256 covers them without allocating while playing.
constexpr std::size_t kSysExReserve = 256;

constexpr unsigned kBeepHz = 1000;
constexpr unsigned kBeepMs = 1000;

// A variable-length quantity is at most 4 bytes (28 bits), as in track chunks.
constexpr int kMaxLengthFieldBytes = 4;

std::size_t ShortMessageLength(std::uint8_t status)
{
    if (status < 0x80)
        return 0;
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0))
        return 3;
    if (status < 0xE0)
        return 2;
    switch (status) {
    case 0xF1:
    case 0xF3:
        return 2;
    case 0xF2:
        return 3;
    case 0xF0:
    case 0xF4:
    case 0xF5:
    case 0xF7:
        return 0;
    default:
        return 1;  // F6 and the real-time messages
    }
}

constexpr std::uint32_t Pack(std::uint32_t status, std::uint32_t data1, std::uint32_t data2)
{
    return status | data1 << 8 | data2 << 16;
}

}  // namespace

MidiControler::MidiControler(int deviceId)
{
    sysEx_.reserve(kSysExReserve);
    Open(deviceId);
}

MidiControler::~MidiControler() = default;

void MidiControler::Open(int deviceId)
{
    port_.reset();
    const std::shared_ptr<MidiOutputSystem> system = CurrentMidiOutputSystem();
    if (system->portNames().empty()) {
        if (gReportMissingDevice.exchange(false))
            ReportError(MidiControlerError::CantOpen);
        return;
    }
    port_ = system->open(deviceId);
    if (!port_)
        ReportError(MidiControlerError::CantOpen);
}

void MidiControler::Close()
{
    if (!port_)
        return;
    if (!port_->reset())
        ReportError(MidiControlerError::CantClose);
    if (!port_->close())
        ReportError(MidiControlerError::CantClose);
    port_.reset();
}

bool MidiControler::sendPacked(std::uint32_t packed)
{
    const std::array<std::uint8_t, 3> bytes = {
        static_cast<std::uint8_t>(packed & 0xFF),
        static_cast<std::uint8_t>((packed >> 8) & 0xFF),
        static_cast<std::uint8_t>((packed >> 16) & 0xFF),
    };
    const std::size_t size = ShortMessageLength(bytes[0]);
    if (!port_ || size == 0)
        return false;
    return port_->sendShort(std::span(bytes.data(), size));
}

bool MidiControler::SendNoteOn(int note, int velocity, int channel)
{
    std::uint32_t low = static_cast<std::uint32_t>(velocity) & 0xFF;
    if (low > 127)
        low = 127;
    return sendPacked(Pack(static_cast<std::uint32_t>(0x90 + channel), static_cast<std::uint32_t>(note), low));
}

bool MidiControler::SendNoteOff(int note, int channel)
{
    return sendPacked(Pack(static_cast<std::uint32_t>(0x80 + channel), static_cast<std::uint32_t>(note), 0));
}

bool MidiControler::SendProgramChange(int program, int channel)
{
    const bool sent =
        sendPacked(Pack(static_cast<std::uint32_t>(0xC0 + channel), static_cast<std::uint32_t>(program), 0));
    if (!sent)
        ReportError(MidiControlerError::CantChangeTone);
    return sent;
}

bool MidiControler::SendShortMessage(int data2, int data1, int status)
{
    return sendPacked(Pack(static_cast<std::uint32_t>(status) & 0xFF, static_cast<std::uint32_t>(data1) & 0xFF,
                           static_cast<std::uint32_t>(data2) & 0xFF));
}

bool MidiControler::SendSysEx(std::int32_t length, const std::uint8_t* bytes)
{
    bool sent = false;
    if (port_ && bytes != nullptr && length >= 1) {
        const std::span<const std::uint8_t> input(bytes, static_cast<std::size_t>(length));
        if (input[0] != 0xF0) {
            sent = port_->sendLong(input);
        } else {
            std::size_t fieldEnd = 1;  // one past the length field
            bool wellFormed = false;
            while (fieldEnd < input.size() && fieldEnd <= kMaxLengthFieldBytes) {
                if ((input[fieldEnd++] & 0x80) == 0) {
                    wellFormed = fieldEnd < input.size();  // a body must follow
                    break;
                }
            }
            if (wellFormed) {
                sysEx_.assign(1, 0xF0);
                sysEx_.insert(sysEx_.end(), input.begin() + static_cast<std::ptrdiff_t>(fieldEnd), input.end());
                sent = port_->sendLong(sysEx_);
            }
        }
    }
    if (!sent)
        Beep(kBeepHz, kBeepMs);
    return sent;
}

bool MidiControler::SendGmSystemOn()
{
    static constexpr std::array<std::uint8_t, 7> kFileForm = {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    return SendSysEx(static_cast<std::int32_t>(kFileForm.size()), kFileForm.data());
}

std::string_view MidiControler::ReportError(ErrorCode code)
{
    return kMidiControlerErrors.report(code);
}

void MidiControler::RearmMissingDeviceReport()
{
    gReportMissingDevice.store(true);
}

}  // namespace sonrigo
