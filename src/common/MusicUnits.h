#pragma once

#include <array>
#include <cstdint>

namespace sonrigo {

// Packed time signature: numerator * 256 + denominator as a note value
// (4/4 is 0x0404, 6/8 is 0x0608).
constexpr std::int32_t PackedTimeSignature(int numerator, int denominator)
{
    return numerator * 256 + denominator;
}

// 60000 / (tempo / 1000), both divisions truncating: 500000 us per quarter
// gives 120. Tempos below 1000 us per quarter count as 1000 (60000 bpm), so
// that no tempo divides by zero.
std::int32_t TempoToBpm(std::int32_t microsecondsPerQuarter);

// The four data bytes of a time-signature meta event for a packed signature:
// numerator, base-2 exponent of the denominator, 18 MIDI clocks per click,
// 8 thirty-second notes per quarter. A denominator of 0 is written as a
// quarter note (exponent 2), the same 4 the reader falls back to.
inline constexpr int kTimeSignatureLength = 4;
std::array<std::uint8_t, kTimeSignatureLength> PackTimeSignature(std::int32_t packed);

}  // namespace sonrigo
