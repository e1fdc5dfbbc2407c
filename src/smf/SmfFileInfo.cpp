#include "smf/SmfFileInfo.h"

#include "smf/SmfBuffer.h"
#include "smf/SmfFile.h"

namespace sonrigo {

SmfFileInfo InspectSmfFile(const std::string& path)
{
    SmfFileInfo info;
    SmfBuffer buffer;
    if (ReadWholeFile(path, buffer) == 0)
        return info;
    info.opened = true;
    info.size = buffer.size();
    info.tooLarge = buffer.size() >= SmfBuffer::kCapacity;

    const std::span<std::uint8_t> file = buffer.bytes();
    info.macBinary = HasMacBinaryPrefix(file);
    info.format = DetectSmfFormat(file);
    const std::int32_t length = buffer.size() - (info.macBinary ? kMacBinaryPrefixLength : 0);
    info.headerFound = StartsWithHeaderId(file.first(static_cast<std::size_t>(length)));
    if (length >= kSmfHeaderLength) {
        info.declaredTracks = buffer.byteAt(10) << 8 | buffer.byteAt(11);
        info.division = buffer.byteAt(12) << 8 | buffer.byteAt(13);
    }
    return info;
}

}  // namespace sonrigo
