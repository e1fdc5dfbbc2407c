#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace sonrigo {

// A regular file opened for reading. Anything else (a directory, a FIFO, a
// device) counts as a file that cannot be opened, so that no read can block
// or fail half-way in a surprising manner. Not shared between threads.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::string& path);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Length in bytes when opened; 0 when not open.
    std::int64_t length() const { return length_; }
    // Fills `into` from the current position until it is full or the file
    // ends. Returns the bytes read, or -1 on a read error.
    std::int64_t read(std::span<std::uint8_t> into);

private:
    int fd_ = -1;
    std::int64_t length_ = 0;
};

}  // namespace sonrigo
