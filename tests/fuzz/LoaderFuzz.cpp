// Fuzzes the whole load of a song file, as "Load MIDI" and Play do it: the
// input is a file's bytes, which the loader reads from a path, tells the
// format of and builds a multi-track song from; a song it keeps is then
// flattened into the playable track, and that track's play copy is made (96
// ticks per quarter note, on/off form, empty leading bars cut).
//
// The loader reads from a path, so every input is written to one memory-only
// file per process (memfd), named by its /proc/self/fd path and rewritten for
// each input: no file is created or removed on a disk, which was most of the
// cost of a run.
//
// Running status is put back before each input, so that an input reproduces
// on its own. Messages go to a captured sink and are dropped.

#include <sys/mman.h>
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

// The memory file's descriptor, made on first use. A failure here is the
// harness's, not the loader's, so it stops the run.
int InputFile()
{
    static const int fd = [] {
        const int made = memfd_create("sonrigo-fuzz-loader.mid", MFD_CLOEXEC);
        if (made < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        return made;
    }();
    return fd;
}

const std::string& InputPath()
{
    static const std::string path = "/proc/self/fd/" + std::to_string(InputFile());
    return path;
}

// Replaces the file's contents with the input.
void WriteInput(const std::uint8_t* data, std::size_t size)
{
    const int fd = InputFile();
    if (ftruncate(fd, 0) != 0) {
        std::perror("ftruncate");
        std::abort();
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::perror("pwrite");
            std::abort();
        }
        done += static_cast<std::size_t>(n);
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
    WriteInput(data, size);

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
    sink->take();
    return 0;
}
