// sonrigo-cli: the headless front end. Messages go to stderr, except that
// dump prints those shown while loading as part of its output.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "CliDump.h"
#include "platform/FluidSoftSynth.h"
#include "CliInfo.h"
#include "CliPlay.h"
#include "CliPorts.h"
#include "CliRender.h"
#include "CliVstInfo.h"
#include "CliVstRender.h"

namespace {

constexpr const char* kUsage =
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

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << kUsage;
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "info") == 0)
        return sonrigo::RunInfo(argv[2], std::cout);
    if (argc >= 2 && std::strcmp(argv[1], "dump") == 0) {
        const std::vector<std::string> args(argv + 2, argv + argc);
        const int status = sonrigo::RunDump(args, stdout);
        if (status == sonrigo::kDumpUsageError)
            std::cerr << kUsage;
        return status;
    }
    if (argc >= 2 && std::strcmp(argv[1], "play") == 0) {
        sonrigo::PlayOptions options;
        if (sonrigo::ParsePlayArgs(std::vector<std::string>(argv + 2, argv + argc), options))
            return sonrigo::RunPlay(options);
        std::cerr << kUsage;
        return sonrigo::kPlayUsageError;
    }
    if (argc >= 2 && std::strcmp(argv[1], "render") == 0) {
        sonrigo::RenderOptions options;
        if (sonrigo::ParseRenderArgs(std::vector<std::string>(argv + 2, argv + argc), options))
            return sonrigo::RunRender(options, stderr);
        std::cerr << kUsage;
        return sonrigo::kRenderUsageError;
    }
    if (argc == 2 && std::strcmp(argv[1], "ports") == 0)
        return sonrigo::RunPorts(*sonrigo::CurrentMidiOutputSystem(), std::cout,
                                 sonrigo::FluidSoftSynth::DefaultSoundFont());
    if (argc == 3 && std::strcmp(argv[1], "vst-info") == 0)
        return sonrigo::RunVstInfo(argv[2], std::cout);
    if (argc >= 2 && std::strcmp(argv[1], "vst-render") == 0) {
        sonrigo::VstRenderOptions options;
        if (sonrigo::ParseVstRenderArgs(std::vector<std::string>(argv + 2, argv + argc), options))
            return sonrigo::RunVstRender(options, std::cerr);
        std::cerr << kUsage;
        return sonrigo::kVstRenderUsageError;
    }
    std::cerr << kUsage;
    return 2;
}
