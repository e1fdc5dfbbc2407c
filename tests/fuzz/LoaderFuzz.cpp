// Fuzzes the whole load of a song file, as "Load MIDI" and Play do it: the
// input is a file's bytes, which the loader reads from a path, tells the
// format of and builds a multi-track song from; a song it keeps is then
// flattened into the playable track, and that track's play copy is made (96
// ticks per quarter note, on/off form, empty leading bars cut).
//
// The loader reads from a path, so every input is written to one temporary
// file per process ($TMPDIR, else /tmp, with the process id in its name),
// rewritten for each input and removed after it, so that only an input that
// stops the run (a crash, a timeout) is left behind.
//
// Running status is put back before each input, so that an input reproduces
// on its own. Messages go to a captured sink and are dropped.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "common/CapturedMessageSink.h"
#include "common/MessageSink.h"
#include "smf/MidiF0Data.h"
#include "smf/MidiFileLoader.h"
#include "song/MidiTrackData.h"

namespace {

const std::string& InputPath()
{
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string chosen = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
        chosen += "/sonrigo-fuzz-loader-" + std::to_string(static_cast<long long>(getpid())) + ".mid";
        return chosen;
    }();
    return path;
}

// Replaces the file's contents with the input. A failure here is the
// harness's, not the loader's, so it stops the run.
void WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::perror(path.c_str());
            std::abort();
        }
        done += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sonrigo;
    static const std::shared_ptr<CapturedMessageSink> sink = [] {
        auto captured = std::make_shared<CapturedMessageSink>();
        InstallMessageSink(captured);
        return captured;
    }();

    const std::string& path = InputPath();
    WriteInput(path, data, size);

    MidiTrackData::ResetRunningStatus();
    {
        MidiFileLoader loader(path);
        if (loader.size() != 0) {
            loader.Flatten();
            if (const MidiF0Data* playable = loader.playable()) {
                std::int32_t cut = 0;
                const std::unique_ptr<MidiF0Data> copy = playable->MakePlayCopy(cut);
                (void)copy;
            }
        }
    }
    unlink(path.c_str());
    sink->take();
    return 0;
}
