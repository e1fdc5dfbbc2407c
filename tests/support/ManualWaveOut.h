#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/QueuedWaveOutStream.h"
#include "platform/WaveOut.h"

namespace sonrigo::test {

// A wave output whose device plays only when the test says so: advance(n)
// plays n frames of the queue (so the position moves and finished buffers
// come back through the window). Its query, open and close can be made to
// fail, and the device can be given a period or be lost.
class ManualWaveOutService final : public WaveOutService {
public:
    class Stream final : public QueuedWaveOutStream {
    public:
        Stream(ManualWaveOutService& service, const WaveFormat& format, WaveOutWindow* window)
            : QueuedWaveOutStream(format, window), service_(service)
        {
        }
        bool write(WaveHeader& header) override
        {
            ++service_.writes;
            return queue_.write(header);
        }
        bool close() override
        {
            queue_.detach();
            if (service_.stream == this)
                service_.stream = nullptr;
            return !service_.failures.close;
        }
        std::uint32_t periodFrames() const override { return service_.period; }
        bool lost() const override { return service_.lost.load(); }

        // Plays `frames` frames; returns those played.
        std::size_t advance(std::size_t frames)
        {
            std::vector<std::int16_t> out(frames);
            return queue_.play(out.data(), frames);
        }

    private:
        ManualWaveOutService& service_;
    };

    bool query(std::int32_t /*deviceId*/, const WaveFormat& /*format*/) override { return !failures.query; }
    std::unique_ptr<WaveOutStream> open(std::int32_t /*deviceId*/, const WaveFormat& format,
                                        WaveOutWindow* window) override
    {
        ++opens;
        if (failures.open)
            return nullptr;
        auto opened = std::make_unique<Stream>(*this, format, window);
        stream = opened.get();
        return opened;
    }
    std::string name() const override { return "manual"; }

    struct Failures {
        bool query = false;
        bool open = false;
        bool close = false;
    } failures;
    // The stream opened last (owned by its device); null after it closes.
    Stream* stream = nullptr;
    int writes = 0;
    int opens = 0;
    // What every stream tells of its device.
    std::uint32_t period = 0;
    std::atomic<bool> lost{false};
};

}  // namespace sonrigo::test
