#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/MidiOutput.h"

namespace sonrigo {

class VstRack;

// The MIDI outputs with the built-in synth among them: the system's ports,
// then the synth, whose port queues every message it is sent for the rack's
// synth (VstRack::queueSynthMessage), stamped to the frame like an
// instrument's event. Device -1 is the system's default port, or the synth
// when the system has none: a machine without any MIDI port still hears
// every channel.
//
// The rack must have its synth attached, and must outlive every port opened
// here. Ports send on the sequencer's timer thread, as the system's do.
class BuiltInSynthOutput final : public MidiOutputSystem {
public:
    // `system` may be null: the synth is then the only port (offline
    // rendering, where no real port must take part).
    BuiltInSynthOutput(std::shared_ptr<MidiOutputSystem> system, VstRack& rack, std::string synthName);

    std::vector<std::string> portNames() override;
    std::unique_ptr<MidiOutputPort> open(int deviceId) override;
    int defaultPort() override;

private:
    std::shared_ptr<MidiOutputSystem> system_;
    VstRack& rack_;
    const std::string synthName_;
};

}  // namespace sonrigo
