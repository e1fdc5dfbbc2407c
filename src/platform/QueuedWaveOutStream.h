#pragma once

#include "platform/WaveOut.h"
#include "platform/WavePlayQueue.h"

namespace sonrigo {

// A wave output stream whose buffers wait in a WavePlayQueue: the owner's
// operations go to the queue, and the backend only plays it from its own
// thread and closes. Backends override what they do differently.
class QueuedWaveOutStream : public WaveOutStream {
public:
    QueuedWaveOutStream(const WaveFormat& format, WaveOutWindow* window) : queue_(format, window) {}

    bool prepare(WaveHeader& header) override { return queue_.prepare(header); }
    bool unprepare(WaveHeader& header) override { return queue_.unprepare(header); }
    bool write(WaveHeader& header) override { return queue_.write(header); }
    void pause() override { queue_.pause(); }
    void restart() override { queue_.restart(); }
    void reset() override { queue_.reset(); }
    void circulate() override { queue_.circulate(); }
    std::uint32_t position() const override { return queue_.position(); }

    WavePlayQueue& queue() { return queue_; }

protected:
    WavePlayQueue queue_;
};

}  // namespace sonrigo
