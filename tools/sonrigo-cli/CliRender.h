#pragma once

#include <cstdio>
#include <string>

#include "CliInstruments.h"
#include "SignalWatchdog.h"

namespace sonrigo {

inline constexpr int kRenderUsageError = 2;
inline constexpr int kRenderInterrupted = kInterruptedStatus;

struct RenderOptions {
    std::string path;         // the MIDI file
    std::string output;       // WAV, or FLAC or Ogg by the extension
    InstrumentList instruments;
    double tailSeconds = 2.0;  // rendered after the song's end, for releases and reverb
    std::string soundFont;     // the built-in synth's; empty: the installed default
};

// Parses what follows "render"; false for a command line it does not understand.
bool ParseRenderArgs(const std::vector<std::string>& args, RenderOptions& options);

// `sonrigo-cli render FILE -o OUT [--vst CH=PLUGIN.so ...] [--vst-all
// PLUGIN.so] [--tail SECONDS] [--soundfont SF2]`: plays the whole song
// through the player's sequencer and audio engine on a virtual clock, as fast
// as the machine renders, into a 16-bit mono 44.1 kHz file. Channels without
// an instrument play on the built-in General MIDI synth. The same input gives
// the same samples at every run.
//
// Shows a progress bar on a terminal (`err` being one), else one summary
// line. Returns 0 when the file was written; 1 when the song (one without
// notes, or one that would last over 12 hours), an instrument, the SoundFont
// or the output failed (with a message on `err`); 130 when interrupted
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT), at the latest a second and a half
// after the signal whatever a plug-in does. Only a complete file ever appears
// under the output's name; a device or FIFO is written in place, and the
// MIDI file itself is never an output.
int RunRender(const RenderOptions& options, std::FILE* err);

}  // namespace sonrigo
