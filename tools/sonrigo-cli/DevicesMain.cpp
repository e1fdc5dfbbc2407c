// sonrigo-cli-devices: the commands of sonrigo-cli that open MIDI ports, the
// sound device, plug-ins or the built-in synth. sonrigo-cli becomes this
// program (exec) for every command but --help, info and dump, so it takes the
// same command line. Messages go to stderr.
//
// Every plug-in library is tried first in a process of its own: this program
// again, with the hidden command "plugin-trial PATH".

#include <cstring>
#include <memory>
#include <iostream>
#include <string>
#include <vector>

#include "CliPlay.h"
#include "CliPorts.h"
#include "CliRender.h"
#include "CliUsage.h"
#include "CliVstInfo.h"
#include "CliVstRender.h"
#include "SignalWatchdog.h"
#include "platform/FluidSoftSynth.h"
#include "vsthost/PluginProbe.h"
#include "vsthost/PluginTrial.h"

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "plugin-trial") == 0)
        sonrigo::PluginTrial::RunAndExit(argv[2]);
    // A signal gives a trial up, so that the command ends as it does for it.
    sonrigo::InstallPluginProbe(std::make_shared<sonrigo::PluginProbe>(
        std::vector<std::string>{"/proc/self/exe", "plugin-trial"}, [] { return !sonrigo::SignalWatchdog::Signalled(); }));
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
