#include "common/FileName.h"

#include <cstddef>

namespace sonrigo {
namespace {

bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        if (lead < 0x80)
            extra = 0;
        else if (lead >= 0xC2 && lead <= 0xDF)
            extra = 1;
        else if (lead >= 0xE0 && lead <= 0xEF)
            extra = 2;
        else if (lead >= 0xF0 && lead <= 0xF4)
            extra = 3;
        else
            return false;
        if (extra > text.size() - i - 1)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace

bool IsCp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string FileNameFromPath(std::string_view path)
{
    const bool doubleByteText = !IsValidUtf8(path);
    auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(path[i]); };

    for (std::size_t i = path.size(); i-- > 0;) {
        if (path[i] == '/')
            return std::string(path.substr(i + 1));
        if (path[i] != '\\' || i == 0)
            continue;
        const bool separator = !doubleByteText || !IsCp932LeadByte(byteAt(i - 1))
                               || (i >= 2 && IsCp932LeadByte(byteAt(i - 2)));
        if (separator)
            return std::string(path.substr(i + 1));
    }
    return std::string(path);
}

}  // namespace sonrigo
