#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace sonrigo {

// Tick arithmetic is done in 64 bits and brought back into the 32-bit fields
// of the records by saturation, so that huge deltas in a damaged file never
// wrap into negative times.
constexpr std::int32_t ClampTicks(std::int64_t ticks)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(ticks, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

constexpr std::int32_t AddTicks(std::int32_t a, std::int32_t b)
{
    return ClampTicks(std::int64_t{a} + b);
}

}  // namespace sonrigo
