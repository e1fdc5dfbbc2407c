#include "platform/FluidSoftSynth.h"

#include <gtest/gtest.h>

#include <stop_token>
#include <string>

namespace sonrigo {
namespace {

TEST(FluidSoftSynth, SaysWhyItCannotStart)
{
    std::string error;
    EXPECT_EQ(FluidSoftSynth::Create("", 44100, error), nullptr);
    EXPECT_NE(error.find("fluid-soundfont-gm"), std::string::npos) << error;
    EXPECT_EQ(FluidSoftSynth::Create(SONRIGO_SOURCE_DIR "/README.md", 44100, error), nullptr);
    EXPECT_EQ(error, SONRIGO_SOURCE_DIR "/README.md is not a SoundFont");
}

// The window's shutdown abandons a load under way: a stop asked for ends it
// before the samples are read.
TEST(FluidSoftSynth, GivesUpALoadAskedToStop)
{
    const std::string soundFont = FluidSoftSynth::DefaultSoundFont();
    if (soundFont.empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    std::stop_source stop;
    stop.request_stop();
    std::string error;
    EXPECT_EQ(FluidSoftSynth::Create(soundFont, 44100, error, stop.get_token()), nullptr);
    EXPECT_EQ(error, "the load of " + soundFont + " was abandoned");
}

}  // namespace
}  // namespace sonrigo
