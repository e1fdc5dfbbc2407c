// What `sonrigo-cli dump --form playcopy` costs on the two generated songs
// at the size limit, output to /dev/null: the whole load of LoadBench plus
// writing some 50 MB (A) and 90 MB (B) of JSON Lines. The difference to
// BM_Load is what the dump's formatting costs.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "CliDump.h"
#include "GeneratedSongs.h"

namespace {

using namespace sonrigo;

std::string WriteSong(const char* label, const bench::GeneratedSong& song)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("sonrigo-bench-dump-" + std::to_string(static_cast<long long>(getpid())) + "-" +
                               label + ".mid"))
                                 .string();
    if (!bench::WriteSongFile(song, path))
        std::exit(EXIT_FAILURE);
    return path;
}

struct DumpInputs {
    std::string a = WriteSong("A", bench::MakeManyTrackSong());
    std::string b = WriteSong("B", bench::MakeSingleTrackSong());
    ~DumpInputs()
    {
        std::filesystem::remove(a);
        std::filesystem::remove(b);
    }
};

const DumpInputs& Inputs()
{
    static const DumpInputs inputs;
    return inputs;
}

void BM_DumpPlayCopy(benchmark::State& state, bool manyTracks)
{
    const std::string& path = manyTracks ? Inputs().a : Inputs().b;
    std::FILE* out = std::fopen("/dev/null", "w");
    if (out == nullptr) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    const std::vector<std::string> args = {"--form", "playcopy", path};
    for (auto _ : state) {
        // Status 0: a playable song was dumped; anything else measures nothing.
        if (RunDump(args, out) != 0) {
            state.SkipWithError("the dump failed");
            break;
        }
    }
    std::fclose(out);
}

BENCHMARK_CAPTURE(BM_DumpPlayCopy, A_format1_63tracks, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DumpPlayCopy, B_format0_1track, false)->Unit(benchmark::kMillisecond);

}  // namespace
