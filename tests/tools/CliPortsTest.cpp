#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "CliPorts.h"
#include "platform/RecordingMidiOutput.h"

namespace sonrigo {
namespace {

// The built-in synth is the default only where there is no port.
TEST(CliPorts, ListsEveryPortWithItsDeviceNumberAndMarksTheDefault)
{
    RecordingMidiOutputOptions options;
    options.portCount = 0;
    RecordingMidiOutput none(options);
    options.portCount = 2;
    RecordingMidiOutput two(options);
    const auto ports = [](MidiOutputSystem& system, const std::string& soundFont) {
        std::ostringstream out;
        EXPECT_EQ(RunPorts(system, out, soundFont), 0);
        return out.str();
    };
    EXPECT_EQ(ports(none, "/sf/GM.sf2"), "no MIDI output ports\n"
                                         "built-in: Built-in GM synth (FluidSynth) with /sf/GM.sf2 (default)\n");
    EXPECT_EQ(ports(two, "/sf/GM.sf2"), "0: Recording port 0 (default)\n1: Recording port 1\n"
                                        "built-in: Built-in GM synth (FluidSynth) with /sf/GM.sf2\n");
    EXPECT_EQ(ports(none, ""), "no MIDI output ports\n"
                               "built-in: Built-in GM synth (FluidSynth), no SoundFont installed (fluid-soundfont-gm)\n");
}

}  // namespace
}  // namespace sonrigo
