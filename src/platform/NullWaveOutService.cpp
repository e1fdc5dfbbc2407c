#include "platform/NullWaveOutService.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/QueuedWaveOutStream.h"

namespace sonrigo {
namespace {

// Often enough that the position moves like a card's, seldom enough to cost nothing.
constexpr auto kStep = std::chrono::milliseconds(5);

class NullWaveOutStream final : public QueuedWaveOutStream {
public:
    NullWaveOutStream(const WaveFormat& format, WaveOutWindow* window)
        : QueuedWaveOutStream(format, window), rate_(format.samplesPerSec), thread_([this] { run(); })
    {
    }

    ~NullWaveOutStream() override { close(); }
    NullWaveOutStream(const NullWaveOutStream&) = delete;
    NullWaveOutStream& operator=(const NullWaveOutStream&) = delete;

    // Owner's thread only; false when already closed.
    bool close() override
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_)
                return false;
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
        queue_.detach();
        return true;
    }

private:
    void run()
    {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point start = Clock::now();
        std::int64_t handed = 0;  // frames the clock has played so far, queued or not
        Clock::time_point deadline = start;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            const Clock::time_point now = Clock::now();
            // A late wake-up skips the deadlines it missed instead of racing through them.
            while (deadline <= now)
                deadline += kStep;
            if (wake_.wait_until(lock, deadline, [this] { return stopping_; }))
                return;
            lock.unlock();
            // From the total time, so that rounding never accumulates.
            const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
            const std::int64_t due = elapsed * rate_ / 1'000'000;
            if (due > handed)
                queue_.play(nullptr, static_cast<std::size_t>(due - handed));
            handed = std::max(handed, due);
            lock.lock();
        }
    }

    const std::int64_t rate_;
    std::mutex mutex_;  // stopping_, between the thread and close()
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once everything above is built
};

}  // namespace

std::shared_ptr<WaveOutService> NullWaveOutService::StandInForMissingDevice()
{
    auto service = std::make_shared<NullWaveOutService>();
    service->standIn_ = true;
    return service;
}

bool NullWaveOutService::query(std::int32_t /*deviceId*/, const WaveFormat& format)
{
    return format.formatTag == 1 && format.channels == 1 && format.bitsPerSample == 16 && format.blockAlign == 2 &&
           format.samplesPerSec > 0;
}

std::unique_ptr<WaveOutStream> NullWaveOutService::open(std::int32_t deviceId, const WaveFormat& format,
                                                        WaveOutWindow* window)
{
    if (!query(deviceId, format))
        return nullptr;
    return std::make_unique<NullWaveOutStream>(format, window);
}

}  // namespace sonrigo
