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
// An open stream plays every 10 ms of the clock: the frames that the time
// since it opened stands for (441 per 10 ms at 44100 Hz, without drift), from
// its queued buffers into the sink (silence where the queue has run dry, not
// counted by the position, as a sound card would stall). Between those steps
// the position tells the frame of the present instant, as a sound card's
// does, so that events are stamped to the frame; the steps only hand the
// frames over and mark buffers done. Every device id plays the format.
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
