#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "common/ScopedMessageCapture.h"
#include "support/ManualWaveOut.h"
#include "vsthost/ProbeLog.h"
#include "vsthost/RackEventQueue.h"
#include "vsthost/VstRack.h"

namespace sonrigo::test {

// The player's rack on a device that plays only when the test advances it,
// the probe's log and the messages shown captured while it lives.
struct RackOnManualDevice {
    explicit RackOnManualDevice(const RackSetup& setup = {}) : rack(service, &events, setup) {}

    // Opens the ring as start does, without the render thread: the test runs the passes.
    void openRing()
    {
        ASSERT_TRUE(rack.waveOut().open(&events));
        ASSERT_TRUE(rack.waveOut().startQueue());
        rack.waveOut().restart();
    }
    void advance(std::size_t frames) { ASSERT_EQ(service->stream->advance(frames), frames); }
    // The device plays the frames, then a render pass runs.
    void pass(std::size_t frames) { advance(frames); rack.renderPass(); }
    void load(std::int32_t slot, const char* path)
    {
        rack.loadPlugin(slot, path);
        rack.resumePlugin(slot);
    }
    // Sets the probe's output channel levels (probe_levels: (parameter - 0.5) * 4).
    void setLevels(std::int32_t slot, float left, float right)
    {
        rack.setParameter(slot, 0, left / 4 + 0.5f);
        rack.setParameter(slot, 1, right / 4 + 0.5f);
    }

    ProbeLog log;  // before the rack: the probe reads its variable when it loads
    ScopedMessageCapture messages;
    std::shared_ptr<ManualWaveOutService> service = std::make_shared<ManualWaveOutService>();
    RackEventQueue events;
    VstRack rack;
};

}  // namespace sonrigo::test
