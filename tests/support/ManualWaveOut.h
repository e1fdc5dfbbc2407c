#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/WaveOut.h"
#include "platform/QueuedWaveOutStream.h"

namespace sonrigo::test {

// A wave output whose device plays only when the test says so: advance(n)
// plays n frames of the queue (so the position moves and finished buffers
// come back through the window). Each operation can be made to fail, and the
// device can be given a period or be lost.
class ManualWaveOutService final : public WaveOutService {
public:
    struct Failures {
        bool query = false;
        bool open = false;
        int prepareAt = -1;  // the n-th prepare (0-based) fails
        int writeAt = -1;    // the n-th write fails
        bool close = false;
    };

    class Stream final : public QueuedWaveOutStream {
    public:
        Stream(ManualWaveOutService& service, const WaveFormat& format, WaveOutWindow* window);
        bool prepare(WaveHeader& header) override;
        bool write(WaveHeader& header) override;
        bool close() override;
        std::uint32_t periodFrames() const override { return service_.period; }
        bool lost() const override { return service_.lost.load(); }

        // Plays `frames` frames; returns those played.
        std::size_t advance(std::size_t frames);

    private:
        ManualWaveOutService& service_;
    };

    bool query(std::int32_t deviceId, const WaveFormat& format) override;
    std::unique_ptr<WaveOutStream> open(std::int32_t deviceId, const WaveFormat& format,
                                        WaveOutWindow* window) override;
    std::string name() const override { return "manual"; }

    Failures failures;
    // The stream opened last (owned by its device); null after it closes.
    Stream* stream = nullptr;
    int prepares = 0;
    int writes = 0;
    int opens = 0;
    // What every stream tells of its device.
    std::uint32_t period = 0;
    std::atomic<bool> lost{false};
};

}  // namespace sonrigo::test
