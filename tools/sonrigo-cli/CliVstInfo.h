#pragma once

#include <iosfwd>
#include <string>

namespace sonrigo {

// `sonrigo-cli vst-info PLUGIN.so`: loads the plug-in as the player does
// (without resuming it) and prints what it says about itself to out: the
// entry point used, its counts, flags, effect name, program and parameter
// names. Messages shown while loading go to the installed message sink.
// Returns the exit code: 0 when the plug-in loaded, 1 otherwise.
int RunVstInfo(const std::string& path, std::ostream& out);

}  // namespace sonrigo
