#include "CliVstRender.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <ostream>
#include <stop_token>
#include <string>
#include <thread>

#include "platform/SoundFileSink.h"
#include "vsthost/MonoMix.h"
#include "vsthost/PluginProbe.h"
#include "vsthost/VstApi.h"
#include "vsthost/VstPlugin.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

// The rack's settings: 10 ms blocks at 44100 Hz.
constexpr int kSampleRate = 44100;
constexpr std::int32_t kBlockSize = 882;

struct MelodyNote {
    std::int32_t startFrame;
    std::int32_t lengthFrames;
    std::uint8_t key;
};

// C major arpeggio up and a chord, then a second of release tail: long enough
// to hear attack, sustain and release of most instruments.
constexpr MelodyNote kMelody[] = {
    {0, 11025, 60},     {13230, 11025, 64}, {26460, 11025, 67},
    {39690, 11025, 72}, {52920, 22050, 60}, {52920, 22050, 64}, {52920, 22050, 67},
};
constexpr std::int32_t kTotalFrames = 52920 + 22050 + kSampleRate;
constexpr std::uint8_t kVelocity = 100;

struct TimedEvent {
    std::int32_t frame;
    vst::VstMidiEvent event;
};

std::vector<TimedEvent> melodyEvents()
{
    std::vector<TimedEvent> events;
    for (const MelodyNote& note : kMelody) {
        for (const bool on : {true, false}) {
            const std::int32_t frame = on ? note.startFrame : note.startFrame + note.lengthFrames;
            events.push_back({frame, vst::MakeMidiEvent(on ? 0x90 : 0x80, note.key, on ? kVelocity : 0)});
        }
    }
    // Note-offs before note-ons at the same frame, so a repeated key restarts.
    std::stable_sort(events.begin(), events.end(), [](const TimedEvent& a, const TimedEvent& b) {
        if (a.frame != b.frame)
            return a.frame < b.frame;
        return (a.event.midiData[0] & 0xF0) == 0x80 && (b.event.midiData[0] & 0xF0) == 0x90;
    });
    return events;
}

// Only the end of the process stops a plug-in that never comes back from its
// processing: after the trial's limit the command says so and ends.
class ProcessingWatch {
public:
    explicit ProcessingWatch(std::string path)
        : thread_([this, path = std::move(path)](std::stop_token stop) { watch(stop, path); })
    {
    }
    void enter()
    {
        since_.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        inside_.store(true, std::memory_order_release);
    }
    void leave() { inside_.store(false, std::memory_order_release); }

private:
    void watch(const std::stop_token& stop, const std::string& path)
    {
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        while (!wake.wait_for(lock, stop, std::chrono::milliseconds(250), [] { return false; })) {
            if (stop.stop_requested())
                return;
            const std::chrono::steady_clock::duration inside(
                std::chrono::steady_clock::now().time_since_epoch().count() - since_.load(std::memory_order_relaxed));
            if (inside_.load(std::memory_order_acquire) && inside > PluginProbe::kTimeLimit) {
                std::fprintf(stderr, "sonrigo: %s did not come back from its audio processing for %lld s\n",
                             path.c_str(), static_cast<long long>(PluginProbe::kTimeLimit.count() / 1000));
                std::fflush(stderr);
                std::_Exit(1);
            }
        }
    }

    std::atomic<bool> inside_{false};
    std::atomic<std::chrono::steady_clock::rep> since_{0};
    std::jthread thread_;  // last: it reads the two above
};

// Mixed as the player mixes: the same samples a song gives on the rack.
std::vector<std::int16_t> render(VstPlugin& plugin, const std::string& path, std::ostream& err)
{
    ProcessingWatch watch(path);
    std::vector<TimedEvent> events = melodyEvents();
    std::vector<std::int16_t> samples(static_cast<std::size_t>(kTotalFrames));
    std::vector<double> totals(static_cast<std::size_t>(kBlockSize));
    std::size_t next = 0;
    for (std::int32_t start = 0; start < kTotalFrames; start += kBlockSize) {
        const std::int32_t frames = std::min(kBlockSize, kTotalFrames - start);
        while (next < events.size() && events[next].frame < start + frames) {
            events[next].event.deltaFrames = events[next].frame - start;
            plugin.addEvent(events[next].event);
            ++next;
        }
        plugin.handOverEvents(frames);
        watch.enter();
        plugin.flushEvents();
        plugin.process(frames);
        watch.leave();
        const auto count = static_cast<std::size_t>(frames);
        std::fill_n(totals.begin(), count, 0.0);
        if (!MonoMix::addPlugin(plugin, totals.data(), count) && plugin.countBadBlock())
            err << "sonrigo: the plug-in played samples that are not numbers or far beyond full scale, and is muted\n";
        MonoMix::toSamples(totals.data(), samples.data() + start, count, 1.0);
    }
    return samples;
}

// Writes samples as a WAV file to path, complete or not at all. Returns an
// empty string, or why not.
std::string writeWav(const std::string& path, const std::vector<std::int16_t>& samples)
{
    std::string reason;
    std::unique_ptr<SoundFileSink> sink = SoundFileSink::Create(path, kSampleRate, reason);
    if (!sink)
        return reason;
    sink->write(samples.data(), samples.size());
    sink->commit(reason);
    return reason;
}

}  // namespace

bool ParseVstRenderArgs(const std::vector<std::string>& args, VstRenderOptions& options)
{
    options = {};
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o") {
            if (i + 1 >= args.size() || !options.output.empty())
                return false;
            options.output = args[++i];
        } else if (options.plugin.empty() && !args[i].empty() && args[i][0] != '-') {
            options.plugin = args[i];
        } else {
            return false;
        }
    }
    return !options.plugin.empty() && !options.output.empty();
}

int RunVstRender(const VstRenderOptions& options, std::ostream& err)
{
    VstPlugin plugin(static_cast<float>(kSampleRate), kBlockSize, VstRack::kEventsPerBlock);
    if (!PluginProbe::Admits(options.plugin) || !plugin.load(options.plugin)) {
        err << "sonrigo: cannot load the plug-in " << options.plugin << '\n';
        return 1;
    }
    if (const std::string reason = plugin.silenceReason(); !reason.empty())
        err << "sonrigo: " << options.plugin << " will not make a sound: " << reason << '\n';
    plugin.resume();
    plugin.setProgram(0);
    const std::vector<std::int16_t> samples = render(plugin, options.plugin, err);
    plugin.suspend();
    plugin.close();

    const std::string problem = writeWav(options.output, samples);
    if (!problem.empty()) {
        err << "sonrigo: cannot write " << options.output << ": " << problem << '\n';
        return 1;
    }
    return 0;
}

}  // namespace sonrigo
