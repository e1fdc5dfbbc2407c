#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/MidiOutput.h"

namespace sonrigo {

// A MIDI output system with one port that takes every message and plays
// nothing: what `play` falls back to on a machine without any MIDI output port
// when the built-in synth cannot start, so that instruments still sound; and
// what `render` uses when every channel has an instrument.
class SilentMidiOutput final : public MidiOutputSystem {
public:
    std::vector<std::string> portNames() override { return {"no MIDI output (silent)"}; }
    std::unique_ptr<MidiOutputPort> open(int deviceId) override;
};

}  // namespace sonrigo
