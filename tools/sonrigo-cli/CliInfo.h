#pragma once

#include <iosfwd>
#include <string>

namespace sonrigo {

// `sonrigo-cli info FILE`: prints what the file's header says to out; the
// messages shown while reading go to the installed message sink. Returns the
// exit code: 0 for a MIDI file the player can load, 1 otherwise.
int RunInfo(const std::string& path, std::ostream& out);

}  // namespace sonrigo
