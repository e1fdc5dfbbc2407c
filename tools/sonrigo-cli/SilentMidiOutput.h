#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/MidiOutput.h"

namespace sonrigo {

// A MIDI output system with one port that takes every message and plays
// nothing: what `play` uses on a machine without any MIDI output port when
// channels play on instruments, so that those still sound.
class SilentMidiOutput final : public MidiOutputSystem {
public:
    std::vector<std::string> portNames() override { return {"no MIDI output (silent)"}; }
    std::unique_ptr<MidiOutputPort> open(int deviceId) override;
};

}  // namespace sonrigo
