#include <gtest/gtest.h>

#include <sstream>

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
    std::ostringstream empty;
    EXPECT_EQ(RunPorts(none, empty, "/sf/GM.sf2"), 0);
    EXPECT_EQ(empty.str(), "no MIDI output ports\nbuilt-in: Built-in GM synth (FluidSynth) with /sf/GM.sf2 (default)\n");

    options.portCount = 2;
    RecordingMidiOutput two(options);
    std::ostringstream listed;
    EXPECT_EQ(RunPorts(two, listed, ""), 0);
    EXPECT_EQ(listed.str(), "0: Recording port 0 (default)\n1: Recording port 1\n"
                            "built-in: Built-in GM synth (FluidSynth), no SoundFont installed (fluid-soundfont-gm)\n");
}

}  // namespace
}  // namespace sonrigo
