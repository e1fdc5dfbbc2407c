#pragma once

#include <iosfwd>
#include <string>

#include "platform/MidiOutput.h"

namespace sonrigo {

// `sonrigo-cli ports`: prints the system's MIDI output ports, one a line as
// "INDEX: NAME" (the index is the device number), the one the player opens by
// default marked " (default)", or "no MIDI output ports"; then a line on the
// built-in synth and its SoundFont (`soundFont`, empty when none is
// installed), which plays where the system has no port. Returns 0.
int RunPorts(MidiOutputSystem& system, std::ostream& out, const std::string& soundFont);

}  // namespace sonrigo
