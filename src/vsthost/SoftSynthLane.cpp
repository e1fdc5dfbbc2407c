#include "vsthost/SoftSynthLane.h"

#include <algorithm>
#include <utility>

namespace sonrigo {

SoftSynthLane::SoftSynthLane(std::size_t maxFrames) : left_(maxFrames), right_(maxFrames)
{
    for (Batch* batch : {&pending_, &handed_}) {
        batch->entries.reserve(kMessageCapacity);
        batch->bytes.reserve(kByteCapacity);
    }
}

void SoftSynthLane::attach(std::shared_ptr<SoftSynth> synth)
{
    synth_ = std::move(synth);
    pending_.clear();
    handed_.clear();
}

bool SoftSynthLane::queue(std::int32_t deltaFrames, std::span<const std::uint8_t> message)
{
    if (!synth_ || message.empty())
        return false;
    if (pending_.entries.size() >= kMessageCapacity || message.size() > kByteCapacity - pending_.bytes.size()) {
        ++dropped_;
        return false;
    }
    const auto first = static_cast<std::uint32_t>(pending_.bytes.size());
    pending_.bytes.insert(pending_.bytes.end(), message.begin(), message.end());
    pending_.entries.push_back({deltaFrames, first, static_cast<std::uint32_t>(message.size())});
    return true;
}

void SoftSynthLane::handOver(std::int32_t frames)
{
    // The batches trade their buffers: no allocation, and the pending one
    // starts empty with its reserved room.
    std::swap(pending_, handed_);
    pending_.clear();
    std::int32_t earliest = 0;
    const std::int32_t last = std::max(frames - 1, 0);
    for (Entry& entry : handed_.entries) {
        entry.offset = std::clamp(entry.offset, earliest, last);
        earliest = entry.offset;
    }
}

void SoftSynthLane::renderSpan(double* totals, std::size_t from, std::size_t to)
{
    if (to <= from)
        return;
    const std::size_t n = to - from;
    synth_->render(left_.data(), right_.data(), n);
    for (std::size_t i = 0; i < n; ++i)
        totals[from + i] += (static_cast<double>(left_[i]) + static_cast<double>(right_[i])) * 0.5;
}

void SoftSynthLane::renderInto(double* totals, std::int32_t frames)
{
    if (!synth_)
        return;
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(frames, 0)), left_.size());
    std::size_t done = 0;
    for (const Entry& entry : handed_.entries) {
        const auto at = std::min(static_cast<std::size_t>(entry.offset), n);
        renderSpan(totals, done, at);
        done = std::max(done, at);
        synth_->send(std::span(handed_.bytes.data() + entry.first, entry.size));
    }
    renderSpan(totals, done, n);
    handed_.clear();
}

}  // namespace sonrigo
