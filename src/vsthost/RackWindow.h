#pragma once

#include <atomic>

#include "platform/WaveOut.h"

namespace sonrigo {

// The rack's owner, as the audio engine reaches it: the device's done
// notifications (waveBufferDone, on the device's thread), and the level of
// each render pass and the messages for the user (on the render thread). An
// implementation hands each on to the owner's thread and returns at once:
// there the owner calls the rack's onBufferDone with the header, reads the
// level when it handles it (the next pass overwrites it about 10 ms later)
// and shows the message.
class RackWindow : public WaveOutWindow {
public:
    // `level`: the last pass's peak in dB, or -1.7e308 for silence.
    virtual void rackLevel(const std::atomic<double>* level) = 0;
    // A message for the user from the render thread, which must not show it
    // itself (a box would stop the audio until it is closed): the window
    // shows it on its own thread. The text is valid during the call only: an
    // implementation copies it. Shows nothing unless the window overrides it.
    virtual void rackMessage(const char* /*text*/) {}
};

}  // namespace sonrigo
