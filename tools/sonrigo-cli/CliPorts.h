#pragma once

#include <iosfwd>

#include "platform/MidiOutput.h"

namespace sonrigo {

// `sonrigo-cli ports`: prints the system's MIDI output ports, one a line as
// "INDEX: NAME" (the index is the device number), the one the player opens by
// default marked " (default)", or "no MIDI output ports". Returns 0.
int RunPorts(MidiOutputSystem& system, std::ostream& out);

}  // namespace sonrigo
