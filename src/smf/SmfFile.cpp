#include "smf/SmfFile.h"

#include <algorithm>
#include <cstring>

#include "common/ErrorTexts.h"
#include "common/MessageSink.h"
#include "platform/ReadOnlyFile.h"
#include "smf/SmfBuffer.h"

namespace sonrigo {
namespace {

constexpr std::uint8_t kHeaderId[4] = {'M', 'T', 'h', 'd'};

bool HasHeaderIdAt(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return bytes.size() >= offset + 4 && std::memcmp(bytes.data() + offset, kHeaderId, 4) == 0;
}

void ReportCannotOpen(const std::string& path)
{
    ReportGeneralError(GeneralError::CantOpenFile);
    ShowMessage(path);
}

}  // namespace

bool StartsWithHeaderId(std::span<const std::uint8_t> bytes)
{
    return HasHeaderIdAt(bytes, 0);
}

bool HasMacBinaryPrefix(std::span<const std::uint8_t> bytes)
{
    return !HasHeaderIdAt(bytes, 0) && HasHeaderIdAt(bytes, kMacBinaryPrefixLength);
}

int ReadWholeFile(const std::string& path, SmfBuffer& buffer)
{
    buffer.setSize(0);
    ReadOnlyFile file(path);
    if (!file.isOpen()) {
        ReportCannotOpen(path);
        return 0;
    }
    const std::int64_t got = buffer.readFrom(file);
    if (got < 0) {
        ReportCannotOpen(path);
        return 0;
    }
    if (got >= SmfBuffer::kCapacity)
        ReportGeneralError(GeneralError::DataTooLarge);
    return 1;
}

int ReadFileExact(const std::string& path, std::span<std::uint8_t> block, std::int64_t count)
{
    if (count < 0 || static_cast<std::uint64_t>(count) > block.size()) {
        ReportGeneralError(GeneralError::WrongParameter);
        return 0;
    }
    ReadOnlyFile file(path);
    if (!file.isOpen()) {
        ReportCannotOpen(path);
        return 0;
    }
    const std::int64_t got = file.read(block.first(static_cast<std::size_t>(count)));
    if (got < 0) {
        ReportCannotOpen(path);
        return 0;
    }
    if (got < count)
        ReportGeneralError(GeneralError::DataTooLarge);
    return 1;
}

int DetectSmfFormat(std::span<std::uint8_t> block)
{
    std::size_t length = block.size();
    if (HasMacBinaryPrefix(block)) {
        length -= kMacBinaryPrefixLength;
        std::memmove(block.data(), block.data() + kMacBinaryPrefixLength, length);
        std::fill(block.begin() + static_cast<std::ptrdiff_t>(length), block.end(), std::uint8_t{0});
    }
    if (length < 10)
        return -1;
    if (block[8] != 0)
        return -1;
    switch (block[9]) {
    case 0: return 0;
    case 1: return 1;
    default: return -1;
    }
}

}  // namespace sonrigo
