#pragma once

#include <cstdint>
#include <string_view>

namespace sonrigo {

// The General MIDI name of a program (0..127) as the rows show it, spelled as
// the player has always spelled it ("Fingerd Electric Bass", "Ensamble
// Strings"). Empty outside 0..127.
std::string_view GmProgramName(std::int32_t program);

}  // namespace sonrigo
