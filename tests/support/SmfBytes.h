#pragma once

#include <cstdint>
#include <numeric>
#include <vector>

// The bytes of Standard MIDI Files built by hand, for the tests that read them.

namespace sonrigo::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Join(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A chunk (a track's, unless told) around the body, followed by more song bytes.
inline Bytes Chunk(const Bytes& body, const Bytes& after = {}, const char* id = "MTrk")
{
    Bytes chunk(id, id + 4);
    for (int shift : {24, 16, 8, 0})
        chunk.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    return Join(Join(chunk, body), after);
}

inline Bytes SmfHeader(int format, int tracks, int division)
{
    Bytes bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    for (int field : {format, tracks, division})
        bytes.insert(bytes.end(), {static_cast<std::uint8_t>(field >> 8), static_cast<std::uint8_t>(field)});
    return bytes;
}

// One event: its delta as a variable-length quantity, then the message.
inline Bytes Ev(std::uint32_t delta, const Bytes& message)
{
    Bytes out{static_cast<std::uint8_t>(delta & 0x7F)};
    for (delta >>= 7; delta != 0; delta >>= 7)
        out.insert(out.begin(), static_cast<std::uint8_t>(0x80 | (delta & 0x7F)));
    return Join(out, message);
}

// A file: the header, then one track chunk of each track's events.
inline Bytes Smf(int format, int declared, int division, const std::vector<std::vector<Bytes>>& tracks)
{
    Bytes out = SmfHeader(format, declared, division);
    for (const std::vector<Bytes>& events : tracks)
        out = Join(out, Chunk(std::accumulate(events.begin(), events.end(), Bytes{}, Join)));
    return out;
}

// The song after a 128-byte MacBinary header.
inline Bytes WithMacBinaryPrefix(const Bytes& song)
{
    return Join(Bytes(128, 0x11), song);
}

}  // namespace sonrigo::test
