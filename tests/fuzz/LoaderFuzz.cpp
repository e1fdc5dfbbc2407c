// Fuzzes the whole load of a song file, as "Load MIDI" and Play do it: the
// input is a file's bytes, which the loader reads from a path, tells the
// format of and builds a multi-track song from; a song it keeps is then
// flattened into the playable track, and that track's play copy is made (96
// ticks per quarter note, on/off form, empty leading bars cut).
//
// Every input is written to one memory-only file per process (memfd), read
// through its /proc/self/fd path: no file is created or removed on a disk,
// which was most of the cost of a run. Running status is put back before each
// input, so that an input reproduces on its own. Messages go to a captured
// sink and are dropped.

#include <sys/mman.h>
#include <unistd.h>

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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sonrigo;
    static const std::shared_ptr<CapturedMessageSink> sink = [] {
        auto captured = std::make_shared<CapturedMessageSink>();
        InstallMessageSink(captured);
        return captured;
    }();
    static const int fd = memfd_create("sonrigo-fuzz-loader.mid", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    // A failure here is the harness's, not the loader's: it stops the run.
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        std::perror("writing the input file");
        std::abort();
    }

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
