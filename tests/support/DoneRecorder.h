#pragma once

#include <cstdint>
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

// A buffer of mono samples first, first + 1, ... and its header.
struct WaveBuffer {
    explicit WaveBuffer(std::size_t frames, std::int16_t first = 0) : samples(frames)
    {
        for (std::size_t i = 0; i < frames; ++i)
            samples[i] = static_cast<std::int16_t>(first + static_cast<std::int16_t>(i));
        header.data = reinterpret_cast<char*>(samples.data());
        header.bufferLength = static_cast<std::uint32_t>(frames * sizeof(std::int16_t));
    }
    std::vector<std::int16_t> samples;
    WaveHeader header;
};

}  // namespace sonrigo::test
