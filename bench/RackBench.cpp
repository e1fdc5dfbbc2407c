// The audio engine's two hot paths: one render pass of the rack, and
// queueMidi as the sequencer's timer callback calls it; and what trying a
// plug-in in a process of its own adds to loading it into every slot.

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>

#include "common/ScopedMessageCapture.h"
#include "platform/WaveOut.h"
#include "platform/WavePlayQueue.h"
#include "vsthost/PluginProbe.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

// A device whose position is whatever the benchmark says it is.
class SteppedWaveOutService final : public WaveOutService {
public:
    class Stream final : public WaveOutStream {
    public:
        bool prepare(WaveHeader& header) override { return (header.flags |= WaveHeader::kPrepared, true); }
        bool unprepare(WaveHeader& header) override { return (header.flags &= ~WaveHeader::kPrepared, true); }
        bool write(WaveHeader& /*header*/) override { return true; }
        void pause() override {}
        void restart() override {}
        void reset() override {}
        std::uint32_t position() const override { return position_.load(std::memory_order_relaxed); }
        bool close() override { return true; }
        std::atomic<std::uint32_t> position_{0};
    };

    bool query(std::int32_t, const WaveFormat&) override { return true; }
    std::unique_ptr<WaveOutStream> open(std::int32_t, const WaveFormat&, WaveOutWindow*) override
    {
        auto opened = std::make_unique<Stream>();
        stream = opened.get();
        return opened;
    }
    std::string name() const override { return "stepped"; }
    Stream* stream = nullptr;
};

// The player's rack with the probe instrument in every slot, its ring open
// but no render thread: the benchmark runs the passes.
struct FullRack {
    FullRack() : service(std::make_shared<SteppedWaveOutService>()), rack(service, nullptr)
    {
        ::unsetenv("SONRIGO_PROBE_LOG");  // the probe then logs nothing
        for (std::int32_t slot = 0; slot < VstRack::kSlotCount; ++slot) {
            rack.loadPlugin(slot, SONRIGO_PROBE_PATH);
            rack.resumePlugin(slot);
        }
        rack.waveOut().open(nullptr);
        rack.waveOut().startQueue();
        rack.waveOut().restart();
        rack.renderPass();  // the first pass fills the lead
    }
    ~FullRack()
    {
        rack.stop();
        rack.removeAllPlugins();
    }
    void advance(std::uint32_t frames) { service->stream->position_.fetch_add(frames, std::memory_order_relaxed); }

    ScopedMessageCapture quiet;
    std::shared_ptr<SteppedWaveOutService> service;
    VstRack rack;
};

// A full block (a render thread 20 ms late), every slot playing: the probe
// fills its two outputs, the rack averages, sums, clips and converts.
void BM_RenderPass16Instances(benchmark::State& state)
{
    FullRack r;
    if (r.rack.pluginCount() != VstRack::kSlotCount) {
        state.SkipWithError("the probe did not load");
        return;
    }
    for (auto _ : state) {
        r.advance(882);
        r.rack.renderPass();
        benchmark::DoNotOptimize(r.rack.mixBuffer().data());
    }
    state.counters["frames"] = 882;
    // Share of the 10 ms period one pass takes, in per cent (shown with a
    // time unit by the library: read the number only).
    state.counters["period_pct"] = benchmark::Counter(static_cast<double>(state.iterations()) * 1e-4,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RenderPass16Instances)->Unit(benchmark::kMicrosecond);

// One call, with the stores not yet full (each batch of 256, sixteen for each
// plug-in, is followed by an untimed pass that hands the events over).
void BM_QueueMidi(benchmark::State& state)
{
    FullRack r;
    constexpr std::int32_t capacity = 256;
    std::uint8_t note = 0;
    for (auto _ : state) {
        for (std::int32_t i = 0; i < capacity; ++i) {
            r.rack.queueMidi(static_cast<std::uint8_t>(0x90 | (i & 0x0F)), note, 100);
            note = static_cast<std::uint8_t>((note + 1) & 0x7F);
        }
        state.PauseTiming();
        r.advance(441);
        r.rack.renderPass();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * capacity);
    // Nanoseconds a call (read the number only).
    state.counters["ns_per_call"] = benchmark::Counter(
        static_cast<double>(state.iterations() * capacity) * 1e-9,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_QueueMidi);

#ifdef SONRIGO_CLI_DEVICES_PATH
// "All": one library into the sixteen slots as the window loads it, without
// a trial (0) and with one, in a process of its own (1: a new probe each
// time, so no verdict is kept); the probe instrument, then amsynth.
void BM_LoadAllSixteen(benchmark::State& state)
{
    const char* path = state.range(1) == 0 ? SONRIGO_PROBE_PATH : "/usr/lib/vst/amsynth_vst.so";
    if (!std::filesystem::exists(path)) {
        state.SkipWithError("amsynth is not installed");
        return;
    }
    ::unsetenv("SONRIGO_PROBE_LOG");
    ScopedMessageCapture quiet;
    VstRack rack(std::make_shared<SteppedWaveOutService>(), nullptr);
    std::array<std::int32_t, VstRack::kSlotCount> slots{};
    std::iota(slots.begin(), slots.end(), 0);
    for (auto _ : state) {
        std::shared_ptr<PluginProbe> previous;
        if (state.range(0) != 0)
            previous = InstallPluginProbe(
                std::make_shared<PluginProbe>(std::vector<std::string>{SONRIGO_CLI_DEVICES_PATH, "plugin-trial"}));
        const std::int32_t loaded = rack.loadInstruments(slots, path);
        state.PauseTiming();
        if (loaded != VstRack::kSlotCount)
            state.SkipWithError("the library did not load");
        rack.removeAllPlugins();
        if (state.range(0) != 0)
            InstallPluginProbe(previous);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadAllSixteen)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
}  // namespace sonrigo
