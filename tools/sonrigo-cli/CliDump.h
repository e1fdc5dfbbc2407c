#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace sonrigo {

// Exit code of RunDump for a command line it does not understand; the caller
// prints the usage.
inline constexpr int kDumpUsageError = 2;

// `sonrigo-cli dump [--form tracks|playable|playcopy] FILE`, args being what
// follows "dump". Loads FILE, converts it as the form asks and writes JSON
// Lines to out: first one {"message": ...} line per message shown while
// loading and converting, then the song's events. Returns 0 when a playable
// song resulted, 1 when none did (or out could not be written),
// kDumpUsageError for a bad command line.
int RunDump(const std::vector<std::string>& args, std::FILE* out);

// Appends text to out as a quoted JSON string. Quote, backslash and control
// characters are escaped (\uXXXX); valid UTF-8 is copied as it is; each byte
// that is not part of a valid UTF-8 sequence becomes \u00XX of its value.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace sonrigo
