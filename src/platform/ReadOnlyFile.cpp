#include "platform/ReadOnlyFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sonrigo {

ReadOnlyFile::ReadOnlyFile(const std::string& path)
{
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it is
    // refused below anyway.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    length_ = static_cast<std::int64_t>(info.st_size);
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::int64_t ReadOnlyFile::read(std::span<std::uint8_t> into)
{
    if (fd_ < 0)
        return -1;
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t got = ::read(fd_, into.data() + done, into.size() - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

}  // namespace sonrigo
