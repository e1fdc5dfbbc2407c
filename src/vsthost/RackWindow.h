#pragma once

#include <atomic>

#include "platform/WaveOut.h"

namespace sonrigo {

// The rack's owner, as the audio engine reaches it: the device's done
// notifications (waveBufferDone, on the device's thread) and the level of
// each render pass (on the render thread). An implementation hands both on to
// the owner's thread and returns at once: there the owner calls the rack's
// onBufferDone with the header, and reads the level when it handles it (the
// next pass overwrites it about 10 ms later).
class RackWindow : public WaveOutWindow {
public:
    // `level`: the last pass's peak in dB, or -1.7e308 for silence.
    virtual void rackLevel(const std::atomic<double>* level) = 0;
};

}  // namespace sonrigo
