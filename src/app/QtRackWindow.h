#pragma once

#include "vsthost/RackWindow.h"

class QObject;

namespace sonrigo {

class VstRack;

// The rack's window in the desktop program: the device's done notifications
// are handed to the user-interface thread (the owner's), where the rack takes
// the buffer back, and the render thread's messages go to the message sink,
// which shows them there. Nothing here waits for that thread.
class QtRackWindow final : public RackWindow {
public:
    explicit QtRackWindow(QObject* owner) : owner_(owner) {}

    // On the user-interface thread: the rack that takes the buffers back;
    // null once it is gone (buffers posted before are then dropped).
    void attach(VstRack* rack) { rack_ = rack; }

    void waveBufferDone(WaveHeader* header) override;
    // Nothing in the window shows the level.
    void rackLevel(const std::atomic<double>* /*level*/) override {}
    void rackMessage(const char* text) override;

private:
    QObject* const owner_;  // outlives the rack
    VstRack* rack_ = nullptr;  // user-interface thread only
};

}  // namespace sonrigo
