// The whole load of a song as the user waits for it, from the file's path to
// the copy Play hands to playback: the loader reads the file, tells its format
// and builds the multi-track song (every track read and put in duration form),
// Flatten merges the tracks into the playable one, and MakePlayCopy makes the
// copy at 96 ticks per quarter note, in on/off form, its empty leading bars
// cut. The two generated songs at the size limit are written to temporary
// files once per run:
//   A: format 1, 63 tracks, about 300,000 note events;
//   B: format 0, one track of about 490,000 events.
// Releasing what a load made (the loader and the play copy) is left out of the
// timing: it happens when the next song replaces this one.

#include <benchmark/benchmark.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "GeneratedSongs.h"
#include "common/CapturedMessageSink.h"
#include "common/LargeBlockPool.h"
#include "common/MessageSink.h"
#include "smf/MidiF0Data.h"
#include "smf/MidiFileLoader.h"
#include "song/MidiTrackData.h"

namespace {

using namespace sonrigo;

CapturedMessageSink& Sink()
{
    static const std::shared_ptr<CapturedMessageSink> sink = [] {
        auto captured = std::make_shared<CapturedMessageSink>();
        InstallMessageSink(captured);
        return captured;
    }();
    return *sink;
}

struct LoadInput {
    const char* label;
    std::string path;
    std::uint32_t bytes = 0;
    std::int32_t format = 0;
    std::int64_t events = 0;    // events written, metas included
    std::int64_t playCopy = 0;  // records in the play copy
};

// What one load makes; kept until the next load, as the player keeps it.
struct Loaded {
    std::unique_ptr<MidiFileLoader> loader;
    std::unique_ptr<MidiF0Data> playCopy;
    std::int32_t cut = 0;
};

Loaded LoadWhole(const std::string& path)
{
    MidiTrackData::ResetRunningStatus();
    Loaded loaded;
    loaded.loader = std::make_unique<MidiFileLoader>(path);
    if (loaded.loader->size() != 0) {
        loaded.loader->Flatten();
        if (const MidiF0Data* playable = loaded.loader->playable())
            loaded.playCopy = playable->MakePlayCopy(loaded.cut);
    }
    return loaded;
}

std::string TempPath(const char* label)
{
    return (std::filesystem::temp_directory_path() /
            ("sonrigo-bench-load-" + std::to_string(static_cast<long long>(getpid())) + "-" + label + ".mid"))
        .string();
}

// Writes the song to its file and loads it once, outside any timing: a load
// that keeps no song or makes no play copy means the benchmark input (or the
// loader) is broken, and no number measured on it means anything. Messages the
// load shows (A has no master volume, which the loader says) are printed once.
LoadInput Prepare(const char* label, const bench::GeneratedSong& song)
{
    Sink().take();
    LoadInput input{label, TempPath(label), static_cast<std::uint32_t>(song.bytes.size()), song.format, song.events,
                    0};
    if (!bench::WriteSongFile(song, input.path))
        std::exit(EXIT_FAILURE);
    const Loaded loaded = LoadWhole(input.path);
    for (const std::string& message : Sink().take())
        std::fprintf(stderr, "song %s: the load shows \"%s\"\n", label, message.c_str());
    if (loaded.loader->size() != input.bytes || loaded.loader->fileFormat() != song.format || !loaded.playCopy) {
        std::fprintf(stderr,
                     "song %s: the load failed (%u of %u bytes, format %d, %s); the benchmark input is broken\n", label,
                     loaded.loader->size(), input.bytes, loaded.loader->fileFormat(),
                     loaded.playCopy ? "a play copy" : "no play copy");
        std::filesystem::remove(input.path);
        std::exit(EXIT_FAILURE);
    }
    input.playCopy = loaded.playCopy->track().count();
    return input;
}

struct AllInputs {
    LoadInput a;
    LoadInput b;

    AllInputs()
        : a(Prepare("A", bench::MakeManyTrackSong())), b(Prepare("B", bench::MakeSingleTrackSong()))
    {
    }
    ~AllInputs()
    {
        std::filesystem::remove(a.path);
        std::filesystem::remove(b.path);
    }
    AllInputs(const AllInputs&) = delete;
    AllInputs& operator=(const AllInputs&) = delete;
};

const AllInputs& Inputs()
{
    static const AllInputs inputs;
    return inputs;
}

const LoadInput& SongA()
{
    return Inputs().a;
}

const LoadInput& SongB()
{
    return Inputs().b;
}

using SongFn = const LoadInput& (*)();

// The whole load, one per iteration. The previous load's song is released
// outside the timing; with freshPages, memory freed so far is also handed back
// to the system first, so that the load pays for touching new pages, as the
// first load in a process does.
void BM_Load(benchmark::State& state, SongFn songFn, bool freshPages)
{
    const LoadInput& input = songFn();
    Loaded loaded;
    for (auto _ : state) {
        state.PauseTiming();
        loaded = Loaded{};
        if (freshPages) {
            LargeBlockPool::trim();
#if defined(__GLIBC__)
            malloc_trim(0);
#endif
        }
        state.ResumeTiming();
        loaded = LoadWhole(input.path);
        benchmark::DoNotOptimize(loaded.playCopy.get());
    }
    Sink().take();
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.bytes));
    state.SetItemsProcessed(state.iterations() * input.events);
    state.counters["events"] = static_cast<double>(input.events);
    state.counters["playcopy"] = static_cast<double>(input.playCopy);
}

BENCHMARK_CAPTURE(BM_Load, A_format1_63tracks, &SongA, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, B_format0_1track, &SongB, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, A_format1_63tracks_fresh_pages, &SongA, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, B_format0_1track_fresh_pages, &SongB, true)->Unit(benchmark::kMillisecond);

}  // namespace
