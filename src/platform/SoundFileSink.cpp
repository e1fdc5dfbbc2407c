#include "platform/SoundFileSink.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace sonrigo {

// The descriptor libsndfile writes through. libsndfile's own account of a
// failed write misleads (FLAC blames its decoder, Ogg Vorbis prints an
// invalid error number on stderr): the first write's errno is kept here and
// reported instead, and everything after it is dropped.
struct SoundFileSink::Output {
    int fd = -1;
    bool seekable = true;
    sf_count_t position = 0;  // bytes written, for a descriptor that cannot tell
    std::atomic<int> error{0};
};

namespace {

using Output = SoundFileSink::Output;

int FormatFor(const std::string& path, std::string& extension)
{
    extension.clear();
    if (const std::size_t dot = path.rfind('.'); dot != std::string::npos && path.find('/', dot) == std::string::npos)
        extension = path.substr(dot + 1);
    std::string lower = extension;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.empty() || lower == "wav")
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    if (lower == "flac")
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    if (lower == "ogg" || lower == "oga")
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    return 0;
}

sf_count_t OutputLength(void* data)
{
    auto* output = static_cast<Output*>(data);
    struct stat info {};
    if (output->seekable && ::fstat(output->fd, &info) == 0)
        return static_cast<sf_count_t>(info.st_size);
    return output->position;
}

sf_count_t OutputSeek(sf_count_t offset, int whence, void* data)
{
    auto* output = static_cast<Output*>(data);
    if (output->seekable)
        return ::lseek(output->fd, offset, whence);
    // A pipe stays where it is: only a look at the present position succeeds.
    const bool here = (whence == SEEK_CUR && offset == 0) || (whence == SEEK_SET && offset == output->position);
    return here ? output->position : -1;
}

sf_count_t OutputRead(void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t OutputWrite(const void* bytes, sf_count_t count, void* data)
{
    auto* output = static_cast<Output*>(data);
    if (output->error.load() != 0)
        return count;
    const auto* from = static_cast<const char*>(bytes);
    for (sf_count_t done = 0; done < count;) {
        const ssize_t wrote = ::write(output->fd, from + done, static_cast<std::size_t>(count - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            output->error.store(wrote < 0 ? errno : EIO);
            return count;
        }
        done += wrote;
    }
    output->position += count;
    return count;
}

sf_count_t OutputTell(void* data)
{
    auto* output = static_cast<Output*>(data);
    return output->seekable ? ::lseek(output->fd, 0, SEEK_CUR) : output->position;
}

SF_VIRTUAL_IO kOutputIo = {OutputLength, OutputSeek, OutputRead, OutputWrite, OutputTell};

void PutLittleEndian(std::uint8_t* at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The header of a 16-bit mono WAV whose lengths are not known when it starts.
void WriteStreamingWavHeader(Output& output, std::int32_t sampleRate)
{
    constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
    std::array<std::uint8_t, 44> header{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    PutLittleEndian(&header[4], kUnknown, 4);
    PutLittleEndian(&header[16], 16, 4);  // the format chunk's size
    PutLittleEndian(&header[20], 1, 2);   // PCM
    PutLittleEndian(&header[22], 1, 2);   // one channel
    PutLittleEndian(&header[24], static_cast<std::uint32_t>(sampleRate), 4);
    PutLittleEndian(&header[28], static_cast<std::uint32_t>(sampleRate) * 2, 4);
    PutLittleEndian(&header[32], 2, 2);   // bytes a frame
    PutLittleEndian(&header[34], 16, 2);  // bits a sample
    std::memcpy(&header[36], "data", 4);
    PutLittleEndian(&header[40], kUnknown, 4);
    OutputWrite(header.data(), static_cast<sf_count_t>(header.size()), &output);
}

// Opens a device or FIFO that is already there for writing; -1, with the
// reason in `error`, when it cannot be or is no longer one.
int OpenInPlace(const std::string& path, std::string& error)
{
    int fd = -1;
    // A FIFO's open waits for its reader; a signal that comes meanwhile is the
    // caller's to act on.
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !(S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))) {
        error = "it was replaced while being opened";
        ::close(fd);
        return -1;
    }
    return fd;
}

// Creates the hidden temporary file for `path` (named in `temp`, the name it
// is renamed to at the end in `final`); -1, with the reason in `error`, when
// it cannot be made.
int CreateHidden(const std::string& path, std::string& final, std::string& temp, std::string& error)
{
    // A link is followed: the file it leads to is replaced and the link
    // stays, so that no file is renamed over /dev/stdout (a link into /proc)
    // when it leads to a regular file.
    std::filesystem::path target(path);
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::error_code failed;
        target = std::filesystem::weakly_canonical(target, failed);
        if (failed) {
            error = failed.message();
            return -1;
        }
    }
    // A hidden file of a unique name in the same folder, so that the rename
    // at the end neither crosses file systems nor replaces anything else.
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    final = target.string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = std::strerror(errno);
        temp.clear();
        return -1;
    }
    // mkstemp makes the file private; the result gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    return fd;
}

}  // namespace

std::unique_ptr<SoundFileSink> SoundFileSink::Create(const std::string& path, std::int32_t sampleRate,
                                                     std::string& error)
{
    std::string extension;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 1;
    info.format = FormatFor(path, extension);
    if (info.format == 0) {
        error = "unknown format ." + extension + " (WAV, FLAC and Ogg Vorbis are written: .wav, .flac, .ogg)";
        return nullptr;
    }

    struct stat existing {};
    const bool inPlace = ::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode);
    if (inPlace && S_ISDIR(existing.st_mode)) {
        error = "it is a folder";
        return nullptr;
    }
    if (inPlace && !S_ISCHR(existing.st_mode) && !S_ISFIFO(existing.st_mode)) {
        error = "it is neither a regular file nor a device or FIFO to write into";
        return nullptr;
    }
    auto output = std::make_unique<Output>();
    std::string final = path;  // what commit() renames the temporary file to
    std::string temp;
    output->fd = inPlace ? OpenInPlace(path, error) : CreateHidden(path, final, temp, error);
    if (output->fd < 0)
        return nullptr;

    output->seekable = ::lseek(output->fd, 0, SEEK_CUR) >= 0;
    if (!output->seekable && (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
        // libsndfile writes no WAV into a pipe: the header is written here
        // and the samples after it as raw PCM.
        WriteStreamingWavHeader(*output, sampleRate);
        info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
    }
    SNDFILE* file = sf_open_virtual(&kOutputIo, SFM_WRITE, &info, output.get());
    if (file == nullptr || output->error.load() != 0) {
        error = output->error.load() != 0 ? std::strerror(output->error.load()) : sf_strerror(nullptr);
        if (file != nullptr)
            sf_close(file);
        ::close(output->fd);
        if (!temp.empty())
            ::unlink(temp.c_str());
        return nullptr;
    }
    return std::unique_ptr<SoundFileSink>(new SoundFileSink(file, std::move(output), std::move(final), temp));
}

SoundFileSink::SoundFileSink(void* file, std::unique_ptr<Output> output, std::string path, std::string partialPath)
    : file_(file), output_(std::move(output)), path_(std::move(path)), partialPath_(std::move(partialPath))
{
    pending_.reserve(kPendingFrames);
}

SoundFileSink::~SoundFileSink()
{
    discard();
}

bool SoundFileSink::failed() const
{
    return failed_.load() || output_->error.load() != 0;
}

void SoundFileSink::write(const std::int16_t* frames, std::size_t count)
{
    if (file_ == nullptr || failed())
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
        failed_.store(true);
    pending_.clear();
}

bool SoundFileSink::commit(std::string& error)
{
    if (file_ == nullptr) {
        error = "the file was already closed";
        return false;
    }
    if (!failed())
        flush();
    const std::string libraryError = failed_.load() ? sf_strerror(static_cast<SNDFILE*>(file_)) : "";
    // Closing writes the end of the file (the header's lengths, the last
    // FLAC frame), which can fail as well.
    const int closed = sf_close(static_cast<SNDFILE*>(file_));
    file_ = nullptr;
    if (::close(output_->fd) != 0 && output_->error.load() == 0)
        output_->error.store(errno);
    std::string reason;
    if (const int written = output_->error.load(); written != 0)
        reason = std::strerror(written);
    else if (failed_.load())
        reason = libraryError;
    else if (closed != 0)
        reason = "the file could not be completed";
    else if (!partialPath_.empty() && std::rename(partialPath_.c_str(), path_.c_str()) != 0)
        reason = std::strerror(errno);
    if (reason.empty())
        return true;
    error = reason;
    if (!partialPath_.empty())
        std::remove(partialPath_.c_str());
    return false;
}

void SoundFileSink::discard()
{
    if (file_ == nullptr)
        return;
    sf_close(static_cast<SNDFILE*>(file_));
    file_ = nullptr;
    ::close(output_->fd);
    if (!partialPath_.empty())
        std::remove(partialPath_.c_str());
}

}  // namespace sonrigo
