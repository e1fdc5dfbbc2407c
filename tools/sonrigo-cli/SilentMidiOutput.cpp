#include "SilentMidiOutput.h"

namespace sonrigo {
namespace {

class SilentPort final : public MidiOutputPort {
public:
    bool sendShort(std::span<const std::uint8_t> /*bytes*/) override { return true; }
    bool sendLong(std::span<const std::uint8_t> /*bytes*/) override { return true; }
    bool reset() override { return true; }
    bool close() override { return true; }
};

}  // namespace

std::unique_ptr<MidiOutputPort> SilentMidiOutput::open(int deviceId)
{
    if (deviceId < -1 || deviceId > 0)
        return nullptr;
    return std::make_unique<SilentPort>();
}

}  // namespace sonrigo
