#pragma once

#include <string>
#include <string_view>

namespace sonrigo {

// True for the bytes that begin a double-byte character in code page 932.
bool IsCp932LeadByte(unsigned char byte);

// The last element of a path. '/' always separates. A backslash separates
// too, except where it is the trail byte of a double-byte character: when the
// path is not valid UTF-8 it is taken as code page 932 text, and a backslash
// at index i counts when byte i-1 is not a lead byte or, failing that, when
// byte i-2 is one. In UTF-8 text a 0x5C byte is always a real backslash. A
// backslash at index 0 never counts. With no separator the whole path is the name.
std::string FileNameFromPath(std::string_view path);

}  // namespace sonrigo
