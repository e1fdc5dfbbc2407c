// Peak memory of a song's tracks as loading holds them: every track chunk read
// and kept, then all of them converted to duration form. Each of the two
// generated songs is measured in a child process of its own, so that the two
// peaks stay apart. Exit status 0 when both stay under the budget.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

#include "GeneratedSongs.h"
#include "common/CapturedMessageSink.h"
#include "common/MessageSink.h"
#include "song/MidiTrackData.h"

namespace {

using namespace sonrigo;

constexpr double kBudgetMb = 100.0;

// ru_maxrss is in kilobytes on Linux.
double PeakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

int Measure(const char* label, bench::GeneratedSong (*make)())
{
    auto sink = std::make_shared<CapturedMessageSink>();
    InstallMessageSink(sink);
    const double atStart = PeakRssMb();

    const bench::GeneratedSong song = make();
    MidiTrackData::ResetRunningStatus();
    std::vector<std::unique_ptr<MidiTrackData>> tracks;
    tracks.reserve(song.trackOffsets.size());
    for (const std::int64_t offset : song.trackOffsets)
        tracks.push_back(std::make_unique<MidiTrackData>(std::span<const std::uint8_t>(song.bytes), offset));
    std::int64_t records = 0;
    for (const auto& track : tracks)
        records += track->count();
    const double afterReading = PeakRssMb();
    for (auto& track : tracks)
        track->toDurationForm();
    std::int64_t durationRecords = 0;
    for (const auto& track : tracks)
        durationRecords += track->count();
    const double peak = PeakRssMb();

    std::printf("song %s: %zu bytes, format %d, %zu tracks, %lld events (%lld note events); %lld records read, "
                "%lld in duration form; %zu message(s)\n",
                label, song.bytes.size(), song.format, song.trackOffsets.size(), static_cast<long long>(song.events),
                static_cast<long long>(song.noteEvents), static_cast<long long>(records),
                static_cast<long long>(durationRecords), sink->messages().size());
    std::printf("song %s: peak RSS %.1f MB (%.1f MB at start, %.1f MB after reading)%s\n", label, peak, atStart,
                afterReading, peak < kBudgetMb ? "" : "  OVER BUDGET");
    std::fflush(stdout);
    return peak < kBudgetMb ? 0 : 2;
}

int MeasureInChild(const char* label, bench::GeneratedSong (*make)())
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0)
        _exit(Measure(label, make));
    int status = 0;
    if (waitpid(child, &status, 0) != child) {
        std::perror("waitpid");
        return 1;
    }
    if (!WIFEXITED(status)) {
        std::printf("song %s: measuring process did not finish\n", label);
        return 1;
    }
    return WEXITSTATUS(status);
}

}  // namespace

int main()
{
    std::printf("budget: peak RSS under %.0f MB per song (1 MB = 1024 kB of ru_maxrss)\n", kBudgetMb);
    const int a = MeasureInChild("A", &bench::MakeManyTrackSong);
    const int b = MeasureInChild("B", &bench::MakeSingleTrackSong);
    return a != 0 ? a : b;
}
