#include "platform/SoundFileSink.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace sonrigo {
namespace {

int MajorFormatFor(const std::string& path)
{
    std::string extension;
    if (const std::size_t dot = path.rfind('.'); dot != std::string::npos && path.find('/', dot) == std::string::npos)
        extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "flac")
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    if (extension == "ogg" || extension == "oga")
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

}  // namespace

std::unique_ptr<SoundFileSink> SoundFileSink::Create(const std::string& path, std::int32_t sampleRate,
                                                     std::string& error)
{
    // A hidden file of a unique name in the same folder, so that the rename
    // at the end neither crosses file systems nor replaces anything else.
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    // mkstemp makes the file private; the result gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);

    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = MajorFormatFor(path);
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file == nullptr) {
        error = sf_strerror(nullptr);
        ::close(fd);
        ::unlink(temp.c_str());
        return nullptr;
    }
    return std::unique_ptr<SoundFileSink>(new SoundFileSink(file, path, temp));
}

SoundFileSink::SoundFileSink(void* file, std::string path, std::string partialPath)
    : file_(file), path_(std::move(path)), partialPath_(std::move(partialPath))
{
    pending_.reserve(kPendingFrames);
}

SoundFileSink::~SoundFileSink()
{
    discard();
}

void SoundFileSink::write(const std::int16_t* frames, std::size_t count)
{
    if (file_ == nullptr || failed_)
        return;
    // libsndfile writes through at once: frames are gathered first, so that a
    // device playing a few milliseconds at a time does not cost a system call
    // each time.
    while (count > 0) {
        const std::size_t taken = std::min(count, kPendingFrames - pending_.size());
        pending_.insert(pending_.end(), frames, frames + taken);
        frames += taken;
        count -= taken;
        frames_ += static_cast<std::int64_t>(taken);
        if (pending_.size() == kPendingFrames)
            flush();
    }
}

void SoundFileSink::flush()
{
    const auto wanted = static_cast<sf_count_t>(pending_.size());
    if (wanted > 0 && sf_writef_short(static_cast<SNDFILE*>(file_), pending_.data(), wanted) != wanted)
        failed_ = true;
    pending_.clear();
}

bool SoundFileSink::commit(std::string& error)
{
    if (file_ == nullptr) {
        error = "the file was already closed";
        return false;
    }
    if (!failed_)
        flush();
    if (failed_) {
        error = sf_strerror(static_cast<SNDFILE*>(file_));
        discard();
        return false;
    }
    const int closed = sf_close(static_cast<SNDFILE*>(file_));
    file_ = nullptr;
    if (closed != 0) {
        error = "the file could not be completed";
        std::remove(partialPath_.c_str());
        return false;
    }
    if (std::rename(partialPath_.c_str(), path_.c_str()) != 0) {
        error = std::strerror(errno);
        std::remove(partialPath_.c_str());
        return false;
    }
    return true;
}

void SoundFileSink::discard()
{
    if (file_ == nullptr)
        return;
    sf_close(static_cast<SNDFILE*>(file_));
    file_ = nullptr;
    std::remove(partialPath_.c_str());
}

}  // namespace sonrigo
