#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "platform/WaveOut.h"

namespace sonrigo::test {

// A device's window that keeps every header handed back, from any thread.
struct DoneRecorder final : WaveOutWindow {
    void waveBufferDone(WaveHeader* header) override
    {
        const std::lock_guard<std::mutex> lock(mutex);
        done.push_back(header);
    }
    // Every header so far.
    std::vector<WaveHeader*> received()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return done;
    }
    // The headers since the last take.
    std::vector<WaveHeader*> take()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(done, {});
    }

    std::mutex mutex;
    std::vector<WaveHeader*> done;
};

}  // namespace sonrigo::test
