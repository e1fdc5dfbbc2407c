#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sonrigo {

class SmfBuffer;

inline constexpr std::int32_t kMacBinaryPrefixLength = 128;
inline constexpr std::int32_t kSmfHeaderLength = 14;  // "MThd", length, format, tracks, division

// Whether the bytes start with "MThd".
bool StartsWithHeaderId(std::span<const std::uint8_t> bytes);

// A 128-byte MacBinary prefix: the bytes do not start with "MThd" but have
// it at offset 128.
bool HasMacBinaryPrefix(std::span<const std::uint8_t> bytes);

// Reads the file at path into the buffer (at most its capacity), sets its
// size and returns 1. A file of the buffer's capacity or more shows "data size
// is too large!" and keeps the first capacity bytes. A file that cannot be
// opened or read (missing, unreadable, not a regular file) shows "Cant open
// file!" and then the path, sets size 0 and returns 0.
int ReadWholeFile(const std::string& path, SmfBuffer& buffer);

// Reads count bytes of the file at path into block and returns 1; fewer
// bytes available shows "data size is too large!" and the rest of the block
// keeps its contents. Open failures as ReadWholeFile, returning 0. A count
// larger than the block shows "parameter is wrong" and returns 0.
int ReadFileExact(const std::string& path, std::span<std::uint8_t> block, std::int64_t count);

// The loader's format detection on an exact-size copy of a file. Removes a
// MacBinary prefix in place (the bytes from 128 on move to 0 and the vacated
// tail is zeroed), then decides by the format field whether or not "MThd" is
// present: 0, 1, or -1 for any other format. Data too short to hold the
// format field is -1.
int DetectSmfFormat(std::span<std::uint8_t> block);

}  // namespace sonrigo
