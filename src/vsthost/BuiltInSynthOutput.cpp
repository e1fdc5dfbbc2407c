#include "vsthost/BuiltInSynthOutput.h"

#include <atomic>
#include <utility>

#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

class SynthPort final : public MidiOutputPort {
public:
    explicit SynthPort(VstRack& rack) : rack_(rack) {}

    bool sendShort(std::span<const std::uint8_t> bytes) override { return send(bytes); }
    bool sendLong(std::span<const std::uint8_t> bytes) override { return send(bytes); }

    // The same messages a system port's reset sends, so that the synth hears
    // what an external module would.
    bool reset() override
    {
        bool ok = true;
        for (std::uint8_t channel = 0; channel < 16; ++channel) {
            for (const std::uint8_t controller : kResetControllers) {
                const std::array<std::uint8_t, 3> message = {static_cast<std::uint8_t>(0xB0 | channel), controller, 0};
                ok = send(message) && ok;
            }
        }
        return ok;
    }

    bool close() override { return !closed_.exchange(true); }

private:
    bool send(std::span<const std::uint8_t> bytes)
    {
        return !closed_.load(std::memory_order_relaxed) && rack_.queueSynthMessage(bytes);
    }

    VstRack& rack_;
    std::atomic<bool> closed_{false};
};

}  // namespace

BuiltInSynthOutput::BuiltInSynthOutput(std::shared_ptr<MidiOutputSystem> system, VstRack& rack,
                                       std::string synthName)
    : system_(std::move(system)), rack_(rack), synthName_(std::move(synthName))
{
}

std::vector<std::string> BuiltInSynthOutput::portNames()
{
    std::vector<std::string> names = system_ ? system_->portNames() : std::vector<std::string>{};
    names.push_back(synthName_);
    return names;
}

std::unique_ptr<MidiOutputPort> BuiltInSynthOutput::open(int deviceId)
{
    const std::size_t systemPorts = system_ ? system_->portNames().size() : 0;
    if (deviceId == -1 && systemPorts > 0)
        return system_->open(-1);
    if (deviceId == -1 || deviceId == static_cast<int>(systemPorts))
        return std::make_unique<SynthPort>(rack_);
    if (deviceId < 0 || deviceId > static_cast<int>(systemPorts))
        return nullptr;
    return system_->open(deviceId);
}

int BuiltInSynthOutput::defaultPort()
{
    const std::size_t systemPorts = system_ ? system_->portNames().size() : 0;
    return systemPorts > 0 ? system_->defaultPort() : static_cast<int>(systemPorts);
}

}  // namespace sonrigo
