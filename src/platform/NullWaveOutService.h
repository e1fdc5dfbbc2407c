#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/WaveOut.h"

namespace sonrigo {

// The wave output of a machine without a sound card: every device id opens,
// and a stream plays its buffers in real time into nothing, so that playback
// and its position go on as with a card, without sound.
//
// A stream has a thread of its own that wakes every 5 ms (absolute deadlines
// on the steady clock) and plays the frames the time since the stream opened
// stands for; the position moves in those steps. Its buffers are done on that
// thread; close() joins it.
class NullWaveOutService final : public WaveOutService {
public:
    NullWaveOutService() = default;
    // The one installed where the machine has no sound device at all.
    static std::shared_ptr<WaveOutService> StandInForMissingDevice();

    // Any 16-bit PCM mono format at a positive rate, as the engine writes.
    bool query(std::int32_t deviceId, const WaveFormat& format) override;
    std::unique_ptr<WaveOutStream> open(std::int32_t deviceId, const WaveFormat& format,
                                        WaveOutWindow* window) override;
    std::string name() const override { return "no audio device"; }
    bool standsInForMissingDevice() const override { return standIn_; }

private:
    bool standIn_ = false;
};

}  // namespace sonrigo
