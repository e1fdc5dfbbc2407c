// Peak memory of the two generated songs, each measurement in a child process
// of its own so that the peaks stay apart:
//   - the tracks as loading holds them: every track chunk read and kept, then
//     all of them converted to duration form;
//   - the whole load from a file, as the player does it: the loader reads the
//     file and builds the song, Flatten merges it into the playable track and
//     MakePlayCopy makes the copy playback gets (all of it held at the end).
// Exit status 0 when every peak stays under the budget.
//
//   sonrigo_song_memory --write DIR   writes the two songs as DIR/a.mid and
//                                     DIR/b.mid and measures nothing.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "GeneratedSongs.h"
#include "common/CapturedMessageSink.h"
#include "common/MessageSink.h"
#include "smf/MidiF0Data.h"
#include "smf/MidiFileLoader.h"
#include "song/MidiTrackData.h"

namespace {

using namespace sonrigo;

constexpr double kBudgetMb = 50.0;

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

// The whole load of the song written at path; the file is made beforehand, so
// that the generator's memory stays out of the peak.
int MeasureLoad(const char* label, const std::string& path)
{
    auto sink = std::make_shared<CapturedMessageSink>();
    InstallMessageSink(sink);
    const double atStart = PeakRssMb();

    MidiTrackData::ResetRunningStatus();
    MidiFileLoader loader(path);
    const double afterLoading = PeakRssMb();
    std::unique_ptr<MidiF0Data> playCopy;
    std::int32_t cut = 0;
    if (loader.size() != 0) {
        loader.Flatten();
        if (const MidiF0Data* playable = loader.playable())
            playCopy = playable->MakePlayCopy(cut);
    }
    const double peak = PeakRssMb();
    const bool loaded = playCopy != nullptr;

    std::printf("load %s: %u bytes, format %d; %lld records in the playable track, %lld in the play copy "
                "(%d ticks cut); %zu message(s)%s\n",
                label, loader.size(), loader.fileFormat(),
                static_cast<long long>(loader.playable() != nullptr ? loader.playable()->track().count() : 0),
                static_cast<long long>(loaded ? playCopy->track().count() : 0), cut, sink->messages().size(),
                loaded ? "" : "  NOT LOADED");
    std::printf("load %s: peak RSS %.1f MB (%.1f MB at start, %.1f MB after the loader)%s\n", label, peak, atStart,
                afterLoading, peak < kBudgetMb ? "" : "  OVER BUDGET");
    std::fflush(stdout);
    if (!loaded)
        return 1;
    return peak < kBudgetMb ? 0 : 2;
}

template <typename Fn>
int InChild(const char* label, Fn measure)
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0)
        _exit(measure());
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

bool WriteSongs(const std::filesystem::path& dir, const std::string& a, const std::string& b)
{
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "%s: %s\n", dir.string().c_str(), error.message().c_str());
        return false;
    }
    return bench::WriteSongFile(bench::MakeManyTrackSong(), a) && bench::WriteSongFile(bench::MakeSingleTrackSong(), b);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
        const std::filesystem::path dir = argv[2];
        return WriteSongs(dir, (dir / "a.mid").string(), (dir / "b.mid").string()) ? 0 : 1;
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--write DIR]\n", argv[0]);
        return 2;
    }

    std::printf("budget: peak RSS under %.0f MB per song (1 MB = 1024 kB of ru_maxrss)\n", kBudgetMb);
    int firstFailure = 0;
    const auto note = [&firstFailure](int status) {
        if (firstFailure == 0)
            firstFailure = status;
    };
    note(InChild("A", [] { return Measure("A", &bench::MakeManyTrackSong); }));
    note(InChild("B", [] { return Measure("B", &bench::MakeSingleTrackSong); }));

    const std::string folder = "sonrigo-song-memory-" + std::to_string(static_cast<long long>(getpid()));
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / folder;
    const std::string a = (dir / "a.mid").string();
    const std::string b = (dir / "b.mid").string();
    // Written by a child too, so that the generator's memory stays out of the
    // parent, whose pages the measuring children start with.
    if (InChild("files", [&] { return WriteSongs(dir, a, b) ? 0 : 1; }) == 0) {
        note(InChild("A", [&a] { return MeasureLoad("A", a); }));
        note(InChild("B", [&b] { return MeasureLoad("B", b); }));
    } else {
        note(1);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return firstFailure;
}
