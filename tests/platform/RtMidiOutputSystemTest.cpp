#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/RtMidiOutputSystem.h"
#include "support/ScopedEnv.h"

namespace sonrigo {
namespace {

TEST(RtMidiOutputSystem, DefaultPortSkipsMidiThroughUnlessAPortIsPreferred)
{
    const std::vector<std::string> names = {"Midi Through:Midi Through Port-0 14:0", "FLUID Synth (1234):Synth input port 128:0",
                                            "capture:in"};
    EXPECT_EQ(ChooseDefaultPort(names, ""), 1);
    EXPECT_EQ(ChooseDefaultPort(names, "capture"), 2);
    EXPECT_EQ(ChooseDefaultPort(names, "Through"), 0);
    EXPECT_EQ(ChooseDefaultPort(names, "no such port"), -1) << "a named port that is missing is not replaced";
    EXPECT_EQ(ChooseDefaultPort({"Midi Through:Midi Through Port-0 14:0"}, ""), 0) << "only Midi Through: take it";
    EXPECT_EQ(ChooseDefaultPort({}, ""), -1);
}

// With no JACK server under that name (and, on most test machines, no ALSA
// sequencer), RtMidi and libjack would print their failures; none may reach
// the terminal.
TEST(RtMidiOutputSystem, MissingSoundServersAreSkippedSilently)
{
    const test::ScopedEnv noServer("JACK_DEFAULT_SERVER", "sonrigo-no-such-server");
    RtMidiOutputSystem system;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const std::vector<std::string> names = system.portNames();
    system.setPreferredPort("sonrigo-no-such-port");
    const bool opened = system.open(-1) != nullptr;
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "");
    EXPECT_EQ(out, "");
    EXPECT_FALSE(opened);
    EXPECT_EQ(system.open(static_cast<int>(names.size())), nullptr) << "past the last port";
}

}  // namespace
}  // namespace sonrigo
