#include "platform/RecordingMidiOutput.h"

#include <utility>

namespace sonrigo {

class RecordingMidiOutput::Port final : public MidiOutputPort {
public:
    Port(std::shared_ptr<RecordingMidiOutput> owner, int index) : owner_(std::move(owner)), index_(index) {}

    bool sendShort(std::span<const std::uint8_t> bytes) override { return send(Kind::Short, bytes); }
    bool sendLong(std::span<const std::uint8_t> bytes) override { return send(Kind::Long, bytes); }

    bool reset() override
    {
        return owner_->record(Kind::Reset, index_, !closed_.load() && !owner_->failReset_.load(), {});
    }

    bool close() override
    {
        const bool accepted = !closed_.load() && !owner_->failClose_.load();
        if (accepted)
            closed_.store(true);
        return owner_->record(Kind::Close, index_, accepted, {});
    }

private:
    bool send(Kind kind, std::span<const std::uint8_t> bytes)
    {
        return owner_->record(kind, index_, !closed_.load() && !owner_->failSends_.load(), bytes);
    }

    const std::shared_ptr<RecordingMidiOutput> owner_;
    const int index_;
    std::atomic<bool> closed_{false};
};

RecordingMidiOutput::RecordingMidiOutput(RecordingMidiOutputOptions options) : options_(std::move(options))
{
    entries_.reserve(options_.maxRecords);
    bytes_.reserve(options_.maxBytes);
    openRequests_.reserve(64);
}

std::vector<std::string> RecordingMidiOutput::portNames()
{
    std::vector<std::string> names;
    for (int i = 0; i < options_.portCount; ++i)
        names.push_back("Recording port " + std::to_string(i));
    return names;
}

std::unique_ptr<MidiOutputPort> RecordingMidiOutput::open(int deviceId)
{
    {
        std::lock_guard lock(mutex_);
        openRequests_.push_back(deviceId);
    }
    if (failOpen_.load() || options_.portCount <= 0 || deviceId < -1 || deviceId >= options_.portCount)
        return nullptr;
    // Not owned by a shared_ptr: the port borrows the system, which must outlive it.
    std::shared_ptr<RecordingMidiOutput> self = weak_from_this().lock();
    if (!self)
        self = std::shared_ptr<RecordingMidiOutput>(std::shared_ptr<void>{}, this);
    return std::make_unique<Port>(std::move(self), deviceId == -1 ? 0 : deviceId);
}

bool RecordingMidiOutput::record(Kind kind, int port, bool accepted, std::span<const std::uint8_t> bytes)
{
    const std::int64_t now = options_.clock ? options_.clock() : 0;
    std::lock_guard lock(mutex_);
    if (entries_.size() == entries_.capacity() || bytes.size() > bytes_.capacity() - bytes_.size()) {
        overflowed_.store(true);
        return false;
    }
    entries_.push_back(Entry{kind, port, accepted, now, bytes_.size(), bytes.size()});
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return accepted;
}

std::vector<RecordingMidiOutput::Record> RecordingMidiOutput::records() const
{
    std::lock_guard lock(mutex_);
    std::vector<Record> out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_) {
        const auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(e.offset);
        out.push_back(Record{e.kind, e.port, e.accepted, e.timeUs,
                             std::vector<std::uint8_t>(first, first + static_cast<std::ptrdiff_t>(e.length))});
    }
    return out;
}

std::vector<std::vector<std::uint8_t>> RecordingMidiOutput::messages() const
{
    std::vector<std::vector<std::uint8_t>> out;
    for (Record& r : records()) {
        if (r.accepted && (r.kind == Kind::Short || r.kind == Kind::Long))
            out.push_back(std::move(r.bytes));
    }
    return out;
}

std::vector<int> RecordingMidiOutput::openRequests() const
{
    std::lock_guard lock(mutex_);
    return openRequests_;
}

void RecordingMidiOutput::clear()
{
    std::lock_guard lock(mutex_);
    entries_.clear();
    bytes_.clear();
    openRequests_.clear();
    overflowed_.store(false);
}

}  // namespace sonrigo
