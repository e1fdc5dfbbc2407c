#include "platform/VirtualWaveOutService.h"

#include <array>
#include <atomic>
#include <algorithm>
#include <mutex>
#include <utility>

#include "platform/QueuedWaveOutStream.h"

namespace sonrigo {
namespace {

class VirtualWaveOutStream final : public QueuedWaveOutStream {
public:
    VirtualWaveOutStream(std::shared_ptr<TimerService> clock, SampleSink* sink, const WaveFormat& format,
                         WaveOutWindow* window)
        : QueuedWaveOutStream(format, window), clock_(std::move(clock)), sink_(sink), rate_(format.samplesPerSec)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        startUs_ = clock_->nowUs();
        timer_ = clock_->startAt(startUs_ + kStepUs, &VirtualWaveOutStream::Tick, this);
    }

    ~VirtualWaveOutStream() override { close(); }


    bool close() override
    {
        TimerId timer = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
            timer = std::exchange(timer_, 0);
        }
        // A tick that is running is waited for, however long it takes.
        while (timer != 0 && !clock_->kill(timer)) {
        }
        queue_.detach();
        return true;
    }

    // Played frames plus those the clock has passed since the last step (as
    // many as are queued, none while paused).
    std::uint32_t position() const override
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::int64_t ahead = dueFrames(clock_->nowUs()) - clockFrames_;
        if (queue_.paused())
            ahead = 0;
        ahead = std::clamp<std::int64_t>(ahead, 0, static_cast<std::int64_t>(queue_.queuedFrames()));
        return queue_.position() + static_cast<std::uint32_t>(ahead);
    }

private:
    // A render period: the rack wakes this often, and each wake-up of a
    // thread costs more than the frames it plays.
    static constexpr std::int64_t kStepUs = 10'000;
    static constexpr std::size_t kScratchFrames = 1024;

    static void Tick(TimerId /*id*/, void* user) { static_cast<VirtualWaveOutStream*>(user)->tick(); }

    std::int64_t dueFrames(std::int64_t nowUs) const { return (nowUs - startUs_) * rate_ / 1'000'000; }

    // On the clock's thread, every step: plays the frames due by now.
    void tick()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const std::int64_t now = clock_->nowUs();
        const std::int64_t due = dueFrames(now);
        std::int64_t frames = due - clockFrames_;
        clockFrames_ = due;
        while (frames > 0) {
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::int64_t>(frames, kScratchFrames));
            scratch_.fill(0);
            queue_.play(scratch_.data(), chunk);
            if (sink_ != nullptr)
                sink_->write(scratch_.data(), chunk);
            frames -= static_cast<std::int64_t>(chunk);
        }
        if (!closed_)
            timer_ = clock_->startAt(now + kStepUs, &VirtualWaveOutStream::Tick, this);
    }

    std::shared_ptr<TimerService> clock_;
    SampleSink* const sink_;
    const std::int64_t rate_;
    // timer_ and closed_ between the clock's thread and close(); the frames
    // played and clockFrames_ between a step and position().
    mutable std::mutex mutex_;
    TimerId timer_ = 0;
    bool closed_ = false;
    std::int64_t startUs_ = 0;
    std::int64_t clockFrames_ = 0;
    std::array<std::int16_t, kScratchFrames> scratch_{};
};

}  // namespace

VirtualWaveOutService::VirtualWaveOutService(std::shared_ptr<TimerService> clock, SampleSink* sink)
    : clock_(std::move(clock)), sink_(sink)
{
}

bool VirtualWaveOutService::query(std::int32_t /*deviceId*/, const WaveFormat& format)
{
    return format.formatTag == 1 && format.channels == 1 && format.bitsPerSample == 16 && format.samplesPerSec > 0;
}

std::unique_ptr<WaveOutStream> VirtualWaveOutService::open(std::int32_t deviceId, const WaveFormat& format,
                                                           WaveOutWindow* window)
{
    if (!query(deviceId, format))
        return nullptr;
    return std::make_unique<VirtualWaveOutStream>(clock_, sink_, format, window);
}

}  // namespace sonrigo
