#include "vsthost/RackEventQueue.h"

#include <cstring>
#include <utility>

#include "common/MessageSink.h"
#include "vsthost/VstRack.h"

namespace sonrigo {

void RackEventQueue::waveBufferDone(WaveHeader* header)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (count_ == kCapacity) {
            dropped_.fetch_add(1);
            return;
        }
        headers_[(head_ + count_) % kCapacity] = header;
        ++count_;
    }
    posted_.notify_one();
}

void RackEventQueue::rackLevel(const std::atomic<double>* level)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        pendingLevel_ = level;
        ++pendingLevels_;
    }
    posted_.notify_one();
}

void RackEventQueue::rackMessage(const char* text)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (messageCount_ == kMessageCapacity)
            return;
        std::array<char, kMessageBytes>& copy = messages_[messageCount_++];
        std::strncpy(copy.data(), text, copy.size() - 1);
        copy.back() = '\0';
    }
    posted_.notify_one();
}

std::size_t RackEventQueue::dispatch(VstRack& rack)
{
    std::array<std::array<char, kMessageBytes>, kMessageCapacity> messages{};
    std::size_t messageCount = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        messages = messages_;
        messageCount = std::exchange(messageCount_, 0);
    }
    // Outside the lock: a box waits for the user, and the render thread posts meanwhile.
    for (std::size_t i = 0; i < messageCount; ++i)
        ShowMessage(messages[i].data());
    std::size_t handed = 0;
    for (;;) {
        WaveHeader* header = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (handed == 0) {
                // The level is read now, as a window reads it when it handles the message.
                if (pendingLevel_ != nullptr)
                    level_ = pendingLevel_->load(std::memory_order_acquire);
                levelCount_ += pendingLevels_;
                pendingLevels_ = 0;
            }
            if (count_ == 0)
                return handed;
            header = headers_[head_];
            head_ = (head_ + 1) % kCapacity;
            --count_;
        }
        rack.onBufferDone(header);
        ++handed;
    }
}

void RackEventQueue::waitFor(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    posted_.wait_for(lock, limit, [this] { return count_ > 0 || pendingLevels_ > 0 || messageCount_ > 0; });
}

}  // namespace sonrigo
