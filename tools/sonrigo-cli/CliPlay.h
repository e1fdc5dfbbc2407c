#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonrigo {

inline constexpr int kPlayUsageError = 2;

struct PlayOptions {
    std::string path;                 // the MIDI file
    std::optional<std::string> port;  // play on the first output whose name contains this
    std::int32_t startTick = 0;       // where to start, in ticks of the play copy (96 per quarter)
};

// Parses what follows "play"; false for a command line it does not understand.
bool ParsePlayArgs(const std::vector<std::string>& args, PlayOptions& options);

// `sonrigo-cli play FILE [--port NAME] [--start-tick T]`: loads the file and
// plays it on the MIDI output through the same play controller the player
// uses, showing the position on a terminal, until the song ends or Ctrl-C
// stops it. Returns 0 when the song played (to its end or until stopped), 1
// when it could not be loaded or played.
int RunPlay(const PlayOptions& options);

}  // namespace sonrigo
