#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace sonrigo {

// The controllers a port's reset() sets to 0 on every channel, in this order.
// Notes are released as keys are, not cut off: the last chord of a song and
// the reverb after it ring out, as they do after the Windows MIDI reset.
inline constexpr std::array<std::uint8_t, 2> kResetControllers = {
    121,  // Reset All Controllers (the sustain pedal among them)
    123,  // All Notes Off
};

// One opened MIDI output port. Sends run on the sequencer's timer thread and
// must not allocate for channel messages.
class MidiOutputPort {
public:
    virtual ~MidiOutputPort() = default;
    // A channel message: the status byte and its data bytes (1 or 2, as the
    // status says). False when the port refused it.
    virtual bool sendShort(std::span<const std::uint8_t> bytes) = 0;
    // A system-exclusive message, whole (F0 ... F7), whatever its length.
    virtual bool sendLong(std::span<const std::uint8_t> bytes) = 0;
    // Silences the port: every note released and the controllers reset, on
    // every channel.
    virtual bool reset() = 0;
    // Closes the port; later sends fail.
    virtual bool close() = 0;
};

// The system's MIDI outputs.
class MidiOutputSystem {
public:
    virtual ~MidiOutputSystem() = default;
    // Every output port, in the order device numbers count them.
    virtual std::vector<std::string> portNames() = 0;
    // Opens device `deviceId` (an index into portNames) or, for -1, the
    // system's default output. Null when it cannot be opened.
    virtual std::unique_ptr<MidiOutputPort> open(int deviceId) = 0;
    // The index in portNames of the port open(-1) picks; -1 for none. Its
    // name is what the main window shows as the MIDI output's.
    virtual int defaultPort()
    {
        return portNames().empty() ? -1 : 0;
    }
};

// The name of the port open(-1) picks, which the main window shows as the
// MIDI output's; empty when there is none.
inline std::string DefaultPortName(MidiOutputSystem& system)
{
    const std::vector<std::string> names = system.portNames();
    const int port = system.defaultPort();
    return port >= 0 && static_cast<std::size_t>(port) < names.size() ? names[static_cast<std::size_t>(port)]
                                                                         : std::string();
}

// The process-wide MIDI output system. Until one is installed, the first
// call creates the real one (RtMidi: the ALSA sequencer, then JACK); after
// installing null, the next call creates it again. Safe from any thread;
// what is returned stays valid while held, even if another is installed.
void InstallMidiOutputSystem(std::shared_ptr<MidiOutputSystem> system);
std::shared_ptr<MidiOutputSystem> CurrentMidiOutputSystem();

}  // namespace sonrigo
