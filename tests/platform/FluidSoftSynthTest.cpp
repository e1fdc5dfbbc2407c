#include "platform/FluidSoftSynth.h"

#include <gtest/gtest.h>

#include <array>
#include <stop_token>
#include <string>

namespace sonrigo {
namespace {

// Why it cannot start; and a load that the window's shutdown abandons: a stop
// asked for ends it before the samples are read.
TEST(FluidSoftSynth, SaysWhyItCannotStartAndGivesUpALoadAskedToStop)
{
    std::string error;
    EXPECT_EQ(FluidSoftSynth::Create("", 44100, error), nullptr);
    EXPECT_NE(error.find("fluid-soundfont-gm"), std::string::npos) << error;
    EXPECT_EQ(FluidSoftSynth::Create(SONRIGO_SOURCE_DIR "/README.md", 44100, error), nullptr);
    EXPECT_EQ(error, SONRIGO_SOURCE_DIR "/README.md is not a SoundFont");
    const std::string soundFont = FluidSoftSynth::DefaultSoundFont();
    if (soundFont.empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(FluidSoftSynth::Create(soundFont, 44100, error, stop.get_token()), nullptr);
    EXPECT_EQ(error, "the load of " + soundFont + " was abandoned");
}

// The bytes the sequencer sends reach FluidSynth as it understands them:
// channel messages by their status, exclusive messages without F0 and F7.
// (Its notes sound where they should in the renders of RackEndToEndTest.)
TEST(FluidSoftSynth, GmSystemOnResetsEveryChannelsProgram)
{
    const std::string soundFont = FluidSoftSynth::DefaultSoundFont();
    if (soundFont.empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    std::string error;
    const std::unique_ptr<FluidSoftSynth> synth = FluidSoftSynth::Create(soundFont, 44100, error);
    ASSERT_NE(synth, nullptr) << error;

    synth->send(std::array<std::uint8_t, 2>{0xC3, 40});
    synth->send(std::array<std::uint8_t, 2>{0xCA, 19});
    EXPECT_EQ(synth->program(3), 40);
    EXPECT_EQ(synth->program(10), 19);

    synth->send(std::array<std::uint8_t, 6>{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    EXPECT_EQ(synth->program(3), 0);
    EXPECT_EQ(synth->program(10), 0);
    // Ignored rather than misread: a bare data byte, a system message.
    synth->send(std::array<std::uint8_t, 1>{0x45});
    synth->send(std::array<std::uint8_t, 1>{0xFE});
    EXPECT_EQ(synth->program(3), 0);
}

}  // namespace
}  // namespace sonrigo
