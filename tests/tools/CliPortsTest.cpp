#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "CliPorts.h"
#include "platform/RecordingMidiOutput.h"

namespace sonrigo {
namespace {

RecordingMidiOutputOptions WithPorts(int count)
{
    RecordingMidiOutputOptions options;
    options.portCount = count;
    return options;
}

TEST(CliPorts, ListsEveryPortWithItsDeviceNumber)
{
    RecordingMidiOutput none(WithPorts(0));
    std::ostringstream empty;
    EXPECT_EQ(RunPorts(none, empty, "/sf/GM.sf2"), 0);
    EXPECT_EQ(empty.str(), "no MIDI output ports\nbuilt-in: Built-in GM synth (FluidSynth) with /sf/GM.sf2 (default)\n");

    RecordingMidiOutput two(WithPorts(2));
    std::ostringstream listed;
    EXPECT_EQ(RunPorts(two, listed, ""), 0);
    EXPECT_EQ(listed.str(), "0: Recording port 0 (default)\n1: Recording port 1\n"
                            "built-in: Built-in GM synth (FluidSynth), no SoundFont installed (fluid-soundfont-gm)\n");
}

}  // namespace
}  // namespace sonrigo
