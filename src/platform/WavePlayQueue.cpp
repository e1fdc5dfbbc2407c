#include "platform/WavePlayQueue.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace sonrigo {

WavePlayQueue::WavePlayQueue(const WaveFormat& format, WaveOutWindow* window)
    : blockAlign_(std::max<std::size_t>(format.blockAlign, 1)), window_(window)
{
}

bool WavePlayQueue::prepare(WaveHeader& header)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if ((header.flags.load() & WaveHeader::kInQueue) != 0)
        return false;
    header.flags.fetch_or(WaveHeader::kPrepared);
    return true;
}

bool WavePlayQueue::unprepare(WaveHeader& header)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if ((header.flags.load() & WaveHeader::kInQueue) != 0)
        return false;
    header.flags.fetch_and(~WaveHeader::kPrepared);
    return true;
}

bool WavePlayQueue::write(WaveHeader& header)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::uint32_t flags = header.flags.load();
    if ((flags & WaveHeader::kPrepared) == 0 || (flags & WaveHeader::kInQueue) != 0 || count_ == kCapacity)
        return false;
    header.flags.store((flags & ~WaveHeader::kDone) | WaveHeader::kInQueue);
    queue_[(head_ + count_) % kCapacity] = &header;
    ++count_;
    return true;
}

void WavePlayQueue::pause()
{
    paused_.store(true, std::memory_order_release);
}

void WavePlayQueue::restart()
{
    paused_.store(false, std::memory_order_release);
}

void WavePlayQueue::circulate()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    circulating_ = true;
}

void WavePlayQueue::reset()
{
    // Marked done and handed back one at a time, each outside the queue's lock.
    for (;;) {
        WaveHeader* header = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            circulating_ = false;
            if (count_ == 0) {
                readBytes_ = 0;
                position_.store(0, std::memory_order_release);
                return;
            }
            header = queue_[head_];
            head_ = (head_ + 1) % kCapacity;
            --count_;
            readBytes_ = 0;
            header->flags.store((header->flags.load() & ~WaveHeader::kInQueue) | WaveHeader::kDone);
        }
        notify(header);
    }
}

// The count and the window are sequentially consistent: either a notification
// sees the window gone, or detach() sees the notification under way and waits
// for it.
void WavePlayQueue::detach()
{
    window_.store(nullptr);
    while (notifying_.load() != 0)
        std::this_thread::yield();
}

void WavePlayQueue::notify(WaveHeader* header)
{
    notifying_.fetch_add(1);
    if (WaveOutWindow* window = window_.load())
        window->waveBufferDone(header);
    notifying_.fetch_sub(1);
}

std::size_t WavePlayQueue::play(std::int16_t* out, std::size_t frames)
{
    return play(out, frames, true);
}

std::size_t WavePlayQueue::playWithoutWaiting(std::int16_t* out, std::size_t frames)
{
    return play(out, frames, false);
}

std::size_t WavePlayQueue::play(std::int16_t* out, std::size_t frames, bool wait)
{
    if (paused())
        return 0;
    const std::size_t samplesPerFrame = blockAlign_ / sizeof(std::int16_t);
    std::size_t played = 0;
    while (played < frames) {
        WaveHeader* finished = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
            if (wait)
                lock.lock();
            else if (!lock.try_lock())
                break;
            if (count_ == 0)
                break;
            WaveHeader* header = queue_[head_];
            const std::size_t available = (header->bufferLength - std::min<std::size_t>(readBytes_, header->bufferLength)) / blockAlign_;
            const std::size_t take = std::min(available, frames - played);
            if (out != nullptr && take > 0) {
                // Read as relaxed atomics: the writer fills the ring ahead of
                // the play position without a lock.
                auto* in = reinterpret_cast<std::int16_t*>(header->data + readBytes_);
                std::int16_t* to = out + played * samplesPerFrame;
                for (std::size_t i = 0; i < take * samplesPerFrame; ++i)
                    to[i] = std::atomic_ref<std::int16_t>(in[i]).load(std::memory_order_relaxed);
            }
            readBytes_ += take * blockAlign_;
            played += take;
            position_.fetch_add(static_cast<std::uint32_t>(take), std::memory_order_acq_rel);
            if (take == available) {
                head_ = (head_ + 1) % kCapacity;
                readBytes_ = 0;
                if (circulating_) {
                    queue_[(head_ + count_ - 1) % kCapacity] = header;
                    if (available == 0)
                        break;  // a ring of empty buffers plays nothing
                    continue;
                }
                --count_;
                header->flags.store((header->flags.load() & ~WaveHeader::kInQueue) | WaveHeader::kDone);
                finished = header;
            }
        }
        if (finished != nullptr)
            notify(finished);
    }
    return played;
}

std::size_t WavePlayQueue::queuedFrames() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < count_; ++i)
        bytes += queue_[(head_ + i) % kCapacity]->bufferLength;
    return (bytes - std::min(bytes, readBytes_)) / blockAlign_;
}

}  // namespace sonrigo
