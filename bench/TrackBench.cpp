// Reading and reshaping whole tracks: what loading a song costs between
// reading the file and playing it. Two generated songs at the size limit:
//   A: format 1, 63 tracks, about 300,000 note events;
//   B: format 0, one track of about 490,000 events.
// Each benchmark times one operation over the whole song; making its input
// and releasing its output are left out of the timing.

#include <benchmark/benchmark.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "GeneratedSongs.h"
#include "common/CapturedMessageSink.h"
#include "common/MessageSink.h"
#include "song/MidiEvent.h"
#include "song/MidiTrackData.h"

namespace {

using namespace sonrigo;
using bench::GeneratedSong;

using Tracks = std::vector<std::unique_ptr<MidiTrackData>>;

CapturedMessageSink& Sink()
{
    static const std::shared_ptr<CapturedMessageSink> sink = [] {
        auto captured = std::make_shared<CapturedMessageSink>();
        InstallMessageSink(captured);
        return captured;
    }();
    return *sink;
}

Tracks ReadTracks(const GeneratedSong& song)
{
    MidiTrackData::ResetRunningStatus();
    Tracks tracks;
    tracks.reserve(song.trackOffsets.size());
    for (const std::int64_t offset : song.trackOffsets)
        tracks.push_back(std::make_unique<MidiTrackData>(std::span<const std::uint8_t>(song.bytes), offset));
    return tracks;
}

Tracks CopyTracks(const Tracks& source)
{
    Tracks copies;
    copies.reserve(source.size());
    for (const auto& track : source)
        copies.push_back(std::make_unique<MidiTrackData>(*track));
    return copies;
}

std::int64_t CountRecords(const Tracks& tracks)
{
    std::int64_t records = 0;
    for (const auto& track : tracks)
        records += track->count();
    return records;
}

std::int64_t CountKind(const Tracks& tracks, std::int32_t kind)
{
    std::int64_t n = 0;
    for (const auto& track : tracks)
        for (std::int32_t i = 0; i < track->count(); ++i)
            n += track->event(i).kind == kind ? 1 : 0;
    return n;
}

// Prints what the message sink caught since the last call; returns how many.
std::size_t ReportMessages(const char* song, const char* step)
{
    const std::vector<std::string> messages = Sink().take();
    if (!messages.empty()) {
        std::fprintf(stderr, "song %s, %s: %zu message(s), the first: \"%s\"\n", song, step, messages.size(),
                     messages.front().c_str());
    }
    return messages.size();
}

void Expect(bool ok, const char* song, const char* what, std::int64_t got, std::int64_t expected)
{
    if (!ok)
        std::fprintf(stderr, "song %s: %s: %lld, expected %lld\n", song, what, static_cast<long long>(got),
                     static_cast<long long>(expected));
}

// One song, read and converted once outside any timing.
struct SongInputs {
    const char* label;
    GeneratedSong song;
    Tracks read;      // as read: on/off form
    Tracks duration;  // in duration form
    std::int64_t events = 0;  // records read, metas included
};

// Reads the song and checks that reading showed no message at all and made
// one record per event written: otherwise the generator (or the reader) is
// broken and no number measured on it means anything. The conversions are run
// once as well, and anything odd about them is printed, but they go on.
SongInputs Prepare(const char* label, GeneratedSong song)
{
    Sink();
    SongInputs inputs{label, std::move(song), {}, {}, 0};
    const GeneratedSong& s = inputs.song;
    Sink().take();

    inputs.read = ReadTracks(s);
    inputs.events = CountRecords(inputs.read);
    if (ReportMessages(label, "reading") != 0 || inputs.events != s.events) {
        std::fprintf(stderr, "song %s: %lld records read for %lld events written; the benchmark input is broken\n",
                     label, static_cast<long long>(inputs.events), static_cast<long long>(s.events));
        std::exit(EXIT_FAILURE);
    }
    for (const auto& track : inputs.read)
        Expect(track->state() == TrackState::OnOff, label, "track state after reading", track->state(),
               TrackState::OnOff);

    // Duration form: one Note per note-on/note-off pair, the pairs' note-offs gone.
    inputs.duration = ReadTracks(s);
    for (auto& track : inputs.duration)
        track->toDurationForm();
    ReportMessages(label, "toDurationForm");
    const std::int64_t durationRecords = CountRecords(inputs.duration);
    Expect(durationRecords == s.events - s.notes, label, "records in duration form", durationRecords,
           s.events - s.notes);
    const std::int64_t notes = CountKind(inputs.duration, EventKind::Note);
    Expect(notes == s.notes, label, "Note records in duration form", notes, s.notes);

    // Back to on/off form: every note-off returns.
    {
        Tracks onOff = CopyTracks(inputs.duration);
        for (auto& track : onOff)
            track->toOnOffForm();
        ReportMessages(label, "toOnOffForm");
        Expect(CountRecords(onOff) == s.events, label, "records back in on/off form", CountRecords(onOff), s.events);
    }
    // Rescaling keeps every record (no note gets shorter than one tick in mode 0).
    {
        Tracks rescaled = CopyTracks(inputs.duration);
        for (auto& track : rescaled)
            track->rescale(s.division, 96, 0);
        ReportMessages(label, "rescale");
        Expect(CountRecords(rescaled) == durationRecords, label, "records after rescale", CountRecords(rescaled),
               durationRecords);
    }
    // Merging keeps every record but the End of Tracks of all tracks but one.
    {
        std::vector<const MidiTrackData*> sources;
        for (const auto& track : inputs.duration)
            sources.push_back(track.get());
        MidiTrackData merged(TrackState::Duration);
        merged.mergeTracks(sources);
        ReportMessages(label, "mergeTracks");
        const std::int64_t expected = durationRecords - static_cast<std::int64_t>(sources.size()) + 1;
        Expect(merged.count() == expected, label, "records after mergeTracks", merged.count(), expected);
    }
    return inputs;
}

// Every record is a heap block of its own, so these timings depend on the
// allocator's state as much as on the code. By default glibc gives freed
// memory at the top of the heap back to the system, and the next run pays a
// page fault for every 4 kB it touches again; whether that happens depends on
// what else sits on the heap, and the same benchmark varied up to six times
// with the filter and the order of runs. So freed memory is kept for reuse
// (no trimming, large blocks from the heap too), and reading is measured a
// second time on fresh pages (everything free handed back before each run),
// which is what the first song a process loads costs.
void KeepFreedMemory()
{
#if defined(__GLIBC__)
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
}

void ReleaseFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// Both songs are prepared together, whichever benchmark runs first, so that
// each benchmark starts from the same heap whatever the filter.
struct AllInputs {
    SongInputs a;
    SongInputs b;
};

const AllInputs& Inputs()
{
    static const AllInputs inputs = [] {
        KeepFreedMemory();
        return AllInputs{Prepare("A", bench::MakeManyTrackSong()), Prepare("B", bench::MakeSingleTrackSong())};
    }();
    return inputs;
}

const SongInputs& SongA()
{
    return Inputs().a;
}

const SongInputs& SongB()
{
    return Inputs().b;
}

using SongFn = const SongInputs& (*)();

void Finish(benchmark::State& state, const SongInputs& inputs)
{
    state.SetItemsProcessed(state.iterations() * inputs.events);
    state.counters["tracks"] = static_cast<double>(inputs.read.size());
    state.counters["events"] = static_cast<double>(inputs.events);
}

// 1. Reading every track chunk of the song into records. With freshPages,
// the memory freed by the previous run is handed back to the system first.
void BM_TrackRead(benchmark::State& state, SongFn songFn, bool freshPages)
{
    const SongInputs& inputs = songFn();
    Tracks tracks;
    for (auto _ : state) {
        state.PauseTiming();
        tracks.clear();
        if (freshPages)
            ReleaseFreedMemory();
        state.ResumeTiming();
        tracks = ReadTracks(inputs.song);
        benchmark::DoNotOptimize(tracks.data());
    }
    Finish(state, inputs);
}

// 2. On/off form (as read) to duration form, every track.
void BM_TrackToDurationForm(benchmark::State& state, SongFn songFn)
{
    const SongInputs& inputs = songFn();
    Tracks tracks;
    for (auto _ : state) {
        state.PauseTiming();
        tracks.clear();
        tracks = ReadTracks(inputs.song);
        state.ResumeTiming();
        for (auto& track : tracks)
            track->toDurationForm();
        benchmark::ClobberMemory();
    }
    Finish(state, inputs);
}

// 3. Division 480 to 96 (what a format-0 song is played at), every track in
// duration form.
void BM_TrackRescale480To96(benchmark::State& state, SongFn songFn)
{
    const SongInputs& inputs = songFn();
    Tracks tracks;
    for (auto _ : state) {
        state.PauseTiming();
        tracks.clear();
        tracks = CopyTracks(inputs.duration);
        state.ResumeTiming();
        for (auto& track : tracks)
            benchmark::DoNotOptimize(track->rescale(480, 96, 0));
        benchmark::ClobberMemory();
    }
    Finish(state, inputs);
}

// 4. Duration form back to on/off form, every track.
void BM_TrackToOnOffForm(benchmark::State& state, SongFn songFn)
{
    const SongInputs& inputs = songFn();
    Tracks tracks;
    for (auto _ : state) {
        state.PauseTiming();
        tracks.clear();
        tracks = CopyTracks(inputs.duration);
        state.ResumeTiming();
        for (auto& track : tracks)
            track->toOnOffForm();
        benchmark::ClobberMemory();
    }
    Finish(state, inputs);
}

// 5. All tracks (in duration form) merged into one fresh track.
void BM_TrackMergeTracks(benchmark::State& state, SongFn songFn)
{
    const SongInputs& inputs = songFn();
    std::vector<const MidiTrackData*> sources;
    for (const auto& track : inputs.duration)
        sources.push_back(track.get());
    std::unique_ptr<MidiTrackData> target;
    for (auto _ : state) {
        state.PauseTiming();
        target.reset();
        target = std::make_unique<MidiTrackData>(TrackState::Duration);
        state.ResumeTiming();
        target->mergeTracks(sources);
        benchmark::DoNotOptimize(target->count());
    }
    Finish(state, inputs);
}

BENCHMARK_CAPTURE(BM_TrackRead, A_63tracks, &SongA, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackRead, B_1track, &SongB, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackRead, A_63tracks_fresh_pages, &SongA, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackRead, B_1track_fresh_pages, &SongB, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackToDurationForm, A_63tracks, &SongA)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackToDurationForm, B_1track, &SongB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackRescale480To96, A_63tracks, &SongA)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackRescale480To96, B_1track, &SongB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackToOnOffForm, A_63tracks, &SongA)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackToOnOffForm, B_1track, &SongB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackMergeTracks, A_63tracks, &SongA)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackMergeTracks, B_1track, &SongB)->Unit(benchmark::kMillisecond);

// 6. Compaction. The obvious way to drop the Removed records is to walk the
// list and erase each one where it stands, passing its delta to the record
// after it: every erase moves the whole rest of the list down one slot, so the
// cost grows with the square of the list. It is kept here, and only here, as
// the yardstick for MidiTrackData::compact().
//
// The input is song B's track as read with every second record marked
// Removed. Erasing in place over the whole track (about 490,000 records)
// takes the better part of a minute, so it runs on the first tenth and first
// twentieth of the track; being quadratic, its time for the whole track is
// about 100 times that of the tenth. compact() runs on the whole track and on
// the first tenth, so the two can be compared at the same size and the
// whole-track ratio estimated from measured numbers.

using EventList = std::vector<std::unique_ptr<MidiEvent>>;

void CompactByErasing(EventList& events)
{
    std::size_t i = 0;
    while (i < events.size()) {
        if (events[i]->kind != EventKind::Removed) {
            ++i;
            continue;
        }
        if (i + 1 < events.size())
            events[i + 1]->delta += events[i]->delta;
        events.erase(events.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

// The first records of song B's track, copied, every second one marked Removed.
std::int32_t PrefixLength(std::int32_t fraction)
{
    return SongB().read.front()->count() / fraction;
}

EventList MarkedEvents(std::int32_t length)
{
    const MidiTrackData& track = *SongB().read.front();
    EventList events;
    events.reserve(static_cast<std::size_t>(length));
    for (std::int32_t i = 0; i < length; ++i) {
        events.push_back(std::make_unique<MidiEvent>(track.event(i)));
        if (i % 2 == 1)
            events.back()->kind = EventKind::Removed;
    }
    return events;
}

void SetCompactCounters(benchmark::State& state, std::int32_t length)
{
    state.SetItemsProcessed(state.iterations() * length);
    state.counters["records"] = length;
    state.counters["removed"] = length / 2;
}

// fraction: the input is the first 1/fraction of the track.
void BM_CompactByErasing(benchmark::State& state, std::int32_t fraction)
{
    const std::int32_t length = PrefixLength(fraction);
    EventList events;
    for (auto _ : state) {
        state.PauseTiming();
        events.clear();
        events = MarkedEvents(length);
        state.ResumeTiming();
        CompactByErasing(events);
        benchmark::DoNotOptimize(events.data());
    }
    if (events.size() != static_cast<std::size_t>(length - length / 2))
        state.SkipWithError("erasing left the wrong number of records");
    SetCompactCounters(state, length);
}

void BM_CompactTrack(benchmark::State& state, std::int32_t fraction)
{
    const std::int32_t length = PrefixLength(fraction);
    std::unique_ptr<MidiTrackData> track;
    for (auto _ : state) {
        state.PauseTiming();
        track.reset();
        track = std::make_unique<MidiTrackData>(TrackState::OnOff);
        for (auto& event : MarkedEvents(length))
            track->append(std::move(event));
        state.ResumeTiming();
        track->compact();
        benchmark::DoNotOptimize(track->count());
    }
    if (track && track->count() != length - length / 2)
        state.SkipWithError("compact() left the wrong number of records");
    if (ReportMessages("B", "compact") != 0)
        state.SkipWithError("compact() showed a message");
    SetCompactCounters(state, length);
}

BENCHMARK_CAPTURE(BM_CompactByErasing, first_tenth_of_B, 10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CompactByErasing, first_twentieth_of_B, 20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CompactTrack, first_tenth_of_B, 10)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CompactTrack, whole_B, 1)->Unit(benchmark::kMillisecond);

}  // namespace
