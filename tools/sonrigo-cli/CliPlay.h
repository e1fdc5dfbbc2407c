#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CliInstruments.h"

namespace sonrigo {

inline constexpr int kPlayUsageError = 2;

struct PlayOptions {
    std::string path;                 // the MIDI file
    std::optional<std::string> port;  // play on the first output whose name contains this
    std::int32_t startTick = 0;       // where to start, in ticks of the play copy (96 per quarter)
    // Instruments: (channel 0-15, plug-in path); --vst-all puts one on every channel.
    InstrumentList instruments;
};

// Parses what follows "play"; false for a command line it does not understand.
bool ParsePlayArgs(const std::vector<std::string>& args, PlayOptions& options);

// `sonrigo-cli play FILE [--port NAME] [--start-tick T] [--vst CH=PLUGIN.so
// ...] [--vst-all PLUGIN.so]`: loads the file and plays it through the same
// play controller the player uses, showing the position on a terminal, until
// the song ends or Ctrl-C stops it. Channels with an instrument (CH counted
// 1 to 16) play through the audio engine: their notes, note-offs and
// controllers go to the plug-in, their program changes select its program;
// everything else goes to the MIDI output, which on a machine without any
// MIDI output port is the built-in General MIDI synth, played through the
// audio engine too. Returns 0 when the song played to its end, 1 when it
// could not be loaded or played or an instrument did not load, 130 when
// stopped by a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT: at the latest a
// second and a half after it, whatever a plug-in does).
int RunPlay(const PlayOptions& options);

}  // namespace sonrigo
