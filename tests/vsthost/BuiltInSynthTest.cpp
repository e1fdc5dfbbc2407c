// The built-in synth's road: the MIDI output that offers it and its part of
// the rack's pass (the frames its messages take effect at are checked by the
// whole renders of RackEndToEndTest).

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/RecordingMidiOutput.h"
#include "vsthost/BuiltInSynthOutput.h"
#include "vsthost/HostFixtures.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Notes which frame of its own output each message came at, and plays a
// constant level on its two channels.
struct FrameCountingSynth final : SoftSynth {
    void send(std::span<const std::uint8_t> message) override { applied.emplace_back(frame, Bytes(message.begin(), message.end())); }
    void render(float* left, float* right, std::size_t frames) override
    {
        std::fill_n(left, frames, 0.5f);
        std::fill_n(right, frames, 0.25f);
        frame += static_cast<std::int64_t>(frames);
    }
    std::int64_t frame = 0;
    std::vector<std::pair<std::int64_t, Bytes>> applied;
};

// The player and play put it in only where the system has no MIDI port (the
// ports it would list beside the system's have no caller). What the
// sequencer's device sends through that port reaches the synth: every byte,
// exclusives too, and the reset's release of every channel.
TEST(BuiltInSynth, IsTheOnePortWhereTheSystemHasNonePassesEveryMessageOnAndIsMixedWithThePlugins)
{
    test::RackOnManualDevice r;
    auto synth = std::make_shared<FrameCountingSynth>();
    r.rack.setSoftSynth(synth);
    r.openRing();
    RecordingMidiOutputOptions none;
    none.portCount = 0;
    BuiltInSynthOutput alone(std::make_shared<RecordingMidiOutput>(none), r.rack, "GM synth");
    EXPECT_EQ(alone.portNames(), std::vector<std::string>{"GM synth"});
    EXPECT_EQ(DefaultPortName(alone), "GM synth");
    std::unique_ptr<MidiOutputPort> port = alone.open(-1);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->sendShort(Bytes{0xC2, 5}));
    EXPECT_TRUE(port->sendLong(Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_TRUE(port->reset());
    EXPECT_TRUE(port->close());
    EXPECT_FALSE(port->sendShort(Bytes{0x92, 60, 1}));

    r.load(0, SONRIGO_PROBE_LEVELS_PATH);
    r.setLevels(0, 0.25f, 0.25f);
    r.rack.renderPass();  // 882 frames; the next pass starts at 2646
    EXPECT_EQ(r.rack.mixBuffer()[0], static_cast<std::int16_t>((0.375 + 0.25) * 32767));
    ASSERT_EQ(synth->applied.size(), 2u + 32u);
    EXPECT_EQ(synth->applied[0].second, (Bytes{0xC2, 5}));
    EXPECT_EQ(synth->applied[1].second, (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_EQ(synth->applied[2].second, (Bytes{0xB0, 121, 0}));
    EXPECT_EQ(synth->applied[33].second, (Bytes{0xBF, 123, 0}));

    // After a stall a stamp can lie past its block: it is kept inside it.
    r.advance(4000);
    EXPECT_TRUE(r.rack.queueSynthMessage(Bytes{0x91, 62, 100}));
    r.pass(410);
    ASSERT_EQ(synth->applied.size(), 35u);
    EXPECT_EQ(synth->applied[34], std::make_pair(std::int64_t{882 + 881}, Bytes{0x91, 62, 100}));
}

}  // namespace
}  // namespace sonrigo
