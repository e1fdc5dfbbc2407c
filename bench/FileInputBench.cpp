// Reading a file whole and telling its format: the first step of every load.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/CapturedMessageSink.h"
#include "common/MessageSink.h"
#include "smf/SmfBuffer.h"
#include "smf/SmfFile.h"

namespace {

using namespace sonrigo;

// A file just under the size limit, made once per run.
const std::string& LargestFile()
{
    static const std::string path = [] {
        std::string file = (std::filesystem::temp_directory_path() / "sonrigo-bench-largest.mid").string();
        std::vector<char> bytes(SmfBuffer::kCapacity - 1, 0x40);
        const char header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 96};
        std::copy(std::begin(header), std::end(header), bytes.begin());
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }();
    return path;
}

void BM_ReadWholeFileLargest(benchmark::State& state)
{
    InstallMessageSink(std::make_shared<CapturedMessageSink>());
    SmfBuffer buffer;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadWholeFile(LargestFile(), buffer));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * buffer.size());
}
BENCHMARK(BM_ReadWholeFileLargest)->Unit(benchmark::kMicrosecond);

// A fresh buffer per song: what constructing a song costs before any reading.
void BM_SmfBufferConstruct(benchmark::State& state)
{
    for (auto _ : state) {
        SmfBuffer buffer;
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_SmfBufferConstruct)->Unit(benchmark::kMicrosecond);

void BM_DetectSmfFormatWithMacBinaryPrefix(benchmark::State& state)
{
    std::vector<std::uint8_t> original(SmfBuffer::kCapacity - 1, 0);
    const char header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 96};
    std::copy(std::begin(header), std::end(header), original.begin() + kMacBinaryPrefixLength);
    std::vector<std::uint8_t> block(original.size());
    for (auto _ : state) {
        state.PauseTiming();
        block = original;
        state.ResumeTiming();
        benchmark::DoNotOptimize(DetectSmfFormat(block));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
}
BENCHMARK(BM_DetectSmfFormatWithMacBinaryPrefix)->Unit(benchmark::kMicrosecond);

}  // namespace
