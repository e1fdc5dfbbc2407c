// sonrigo-cli-devices: the commands of sonrigo-cli that open MIDI ports, the
// sound device, plug-ins or the built-in synth. sonrigo-cli becomes this
// program (exec) for every command but --help, info and dump, so it takes the
// same command line. Messages go to stderr.

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "CliPlay.h"
#include "CliPorts.h"
#include "CliRender.h"
#include "CliUsage.h"
#include "CliVstInfo.h"
#include "CliVstRender.h"
#include "platform/FluidSoftSynth.h"

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "play") == 0) {
        sonrigo::PlayOptions options;
        if (sonrigo::ParsePlayArgs(std::vector<std::string>(argv + 2, argv + argc), options))
            return sonrigo::RunPlay(options);
        std::cerr << sonrigo::kCliUsage;
        return sonrigo::kPlayUsageError;
    }
    if (argc >= 2 && std::strcmp(argv[1], "render") == 0) {
        sonrigo::RenderOptions options;
        if (sonrigo::ParseRenderArgs(std::vector<std::string>(argv + 2, argv + argc), options))
            return sonrigo::RunRender(options, stderr);
        std::cerr << sonrigo::kCliUsage;
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
        std::cerr << sonrigo::kCliUsage;
        return sonrigo::kVstRenderUsageError;
    }
    std::cerr << sonrigo::kCliUsage;
    return 2;
}
