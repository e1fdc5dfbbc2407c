// The event record is made once per event of every track read and copied by
// every conversion: its construction and copy set the pace of loading.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "song/MidiEvent.h"

namespace {

using namespace sonrigo;

void BM_MidiEventConstruct(benchmark::State& state)
{
    for (auto _ : state) {
        MidiEvent event(96);
        benchmark::DoNotOptimize(event.payloadCapacity());
    }
}
BENCHMARK(BM_MidiEventConstruct);

void BM_MidiEventCopyShort(benchmark::State& state)
{
    MidiEvent source(96);
    source.kind = EventKind::NoteOn;
    source.length = 3;
    MidiEvent target;
    for (auto _ : state) {
        target = source;
        benchmark::DoNotOptimize(target.length);
    }
}
BENCHMARK(BM_MidiEventCopyShort);

// A song-sized batch: 100,000 records made and released, as a large track is.
void BM_MidiEventTrackOf100k(benchmark::State& state)
{
    std::vector<std::unique_ptr<MidiEvent>> events;
    events.reserve(100000);
    for (auto _ : state) {
        for (int i = 0; i < 100000; ++i)
            events.push_back(std::make_unique<MidiEvent>(i & 0x7F));
        events.clear();
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_MidiEventTrackOf100k)->Unit(benchmark::kMillisecond);

void BM_ClassifyExclusive(benchmark::State& state)
{
    const std::uint8_t gsPart[] = {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x00, 0xF7};
    MidiEvent event;
    event.kind = EventKind::SysEx;
    event.storePayload(gsPart);
    for (auto _ : state) {
        event.classifyExclusive();
        benchmark::DoNotOptimize(event.subtype);
    }
}
BENCHMARK(BM_ClassifyExclusive);

}  // namespace
