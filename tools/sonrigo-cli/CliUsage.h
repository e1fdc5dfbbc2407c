#pragma once

namespace sonrigo {

// What sonrigo-cli prints for --help and for a command line it does not take.
inline constexpr const char* kCliUsage =
    "usage: sonrigo-cli info FILE   show what a MIDI file's header says\n"
    "       sonrigo-cli dump [--form tracks|playable|playcopy] FILE\n"
    "                               print the loaded song's events as JSON Lines\n"
    "                               (default form: playable)\n"
    "       sonrigo-cli play FILE [--port NAME] [--start-tick T]\n"
    "                    [--vst CH=PLUGIN.so ...] [--vst-all PLUGIN.so]\n"
    "                               play the song on the MIDI output, channels CH\n"
    "                               (1-16) on VST instruments (Ctrl-C stops)\n"
    "       sonrigo-cli render FILE -o OUT [--vst CH=PLUGIN.so ...]\n"
    "                    [--vst-all PLUGIN.so] [--tail SECONDS] [--soundfont SF2]\n"
    "                               render the song to a WAV, FLAC or Ogg file,\n"
    "                               channels without an instrument on the\n"
    "                               built-in General MIDI synth (tail: 2 s)\n"
    "       sonrigo-cli ports          list the MIDI output ports and the built-in synth\n"
    "       sonrigo-cli vst-info PLUGIN.so\n"
    "                               show what a VST 2 plug-in says about itself\n"
    "       sonrigo-cli vst-render PLUGIN.so -o OUT.wav\n"
    "                               play a short melody on the plug-in into a\n"
    "                               16-bit mono 44.1 kHz WAV file\n"
    "       sonrigo-cli --help\n";

}  // namespace sonrigo
