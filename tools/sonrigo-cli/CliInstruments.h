#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sonrigo {

// Instruments named on a command line: (channel 0-15, plug-in path).
using InstrumentList = std::vector<std::pair<std::int32_t, std::string>>;

// "1" to "16" into 1 to 16; false for anything else.
bool ParseChannel(const std::string& text, std::int32_t& channel);

// Takes `--vst CH=PLUGIN.so` or `--vst-all PLUGIN.so` (option and value)
// into `instruments`; false for a malformed value or another option.
bool ParseInstrumentOption(const std::string& option, const std::string& value, InstrumentList& instruments);

}  // namespace sonrigo
