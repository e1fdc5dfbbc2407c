#include "common/MusicUnits.h"

namespace sonrigo {

std::int32_t TempoToBpm(std::int32_t microsecondsPerQuarter)
{
    const std::int32_t tempo = microsecondsPerQuarter < 1000 ? 1000 : microsecondsPerQuarter;
    return 60000 / (tempo / 1000);
}

std::array<std::uint8_t, kTimeSignatureLength> PackTimeSignature(std::int32_t packed)
{
    const auto numerator = static_cast<std::uint8_t>((packed >> 8) & 0xFF);
    unsigned denominator = static_cast<unsigned>(packed & 0xFF);
    std::uint8_t exponent = 2;
    if (denominator != 0) {
        exponent = 0;
        while (denominator > 1) {
            denominator /= 2;
            ++exponent;
        }
    }
    return {numerator, exponent, 18, 8};
}

}  // namespace sonrigo
