#pragma once

#include <memory>

#include "platform/SampleSink.h"
#include "platform/TimerService.h"
#include "platform/WaveOut.h"

namespace sonrigo {

// A wave output that plays on a timer service's clock instead of a sound
// card: with the virtual clock of the tests and the offline renderer, a song
// goes through the whole audio engine faster than real time and gives the
// same samples at every run.
//
// An open stream plays every millisecond of the clock: the frames that the
// time since restart stands for (44 or 45 a millisecond, without drift), from
// its queued buffers into the sink (silence where the queue has run dry, not
// counted by the position, as a sound card would stall). The position then
// moves in steps of a millisecond. Every device id plays the format.
class VirtualWaveOutService final : public WaveOutService {
public:
    // The sink may be null (the frames go nowhere); it must outlive every stream.
    VirtualWaveOutService(std::shared_ptr<TimerService> clock, SampleSink* sink);

    bool query(std::int32_t deviceId, const WaveFormat& format) override;
    std::unique_ptr<WaveOutStream> open(std::int32_t deviceId, const WaveFormat& format,
                                        WaveOutWindow* window) override;
    std::string name() const override { return "virtual clock"; }

private:
    std::shared_ptr<TimerService> clock_;
    SampleSink* sink_;
};

}  // namespace sonrigo
