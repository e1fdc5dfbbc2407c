// How closely the sequencer keeps to the song's exact times through the real
// timer thread: plays a synthetic song with dense events and a tempo change
// every bar to a MIDI output that discards everything, records when each
// record reached the per-event callback, and compares that with the record's
// exact time from the tempo events' microseconds per quarter note. Runs the
// exact scheduling and the literal truncating one, one after the other.
//
//   sonrigo_playback_timing [--seconds N]   (default 60 seconds of music each)
//
// Prints, per timing, the dispatch error (median, p99, max of |actual - exact|
// in microseconds) and the drift at the end (actual - exact of the last
// record). Targets: p99 under 1 ms and end drift under 1 ms for the exact one.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/MessageSink.h"
#include "common/StderrMessageSink.h"
#include "playback/CallBackPlayer.h"
#include "playback/SequencerState.h"
#include "platform/MidiOutput.h"
#include "platform/TimerService.h"
#include "smf/MidiF0Data.h"
#include "song/MidiEvent.h"
#include "song/MidiTrackData.h"

namespace {

using namespace sonrigo;

constexpr std::int32_t kDivision = 96;
constexpr std::int32_t kTicksPerBar = 4 * kDivision;
constexpr std::int32_t kStep = 12;  // a thirty-second note

class DiscardingPort final : public MidiOutputPort {
public:
    bool sendShort(std::span<const std::uint8_t>) override { return true; }
    bool sendLong(std::span<const std::uint8_t>) override { return true; }
    bool reset() override { return true; }
    bool close() override { return true; }
};

class DiscardingOutput final : public MidiOutputSystem {
public:
    std::vector<std::string> portNames() override { return {"discard"}; }
    std::unique_ptr<MidiOutputPort> open(int) override { return std::make_unique<DiscardingPort>(); }
};

// Tempos that are not whole beats per minute, changing every bar; notes on
// all sixteen channels every thirty-second note. Also gives each record's exact time.
std::unique_ptr<MidiF0Data> MakeSong(int seconds, std::vector<double>& exactUs)
{
    auto song = std::make_unique<MidiF0Data>(TrackState::OnOff);
    song->setDivision(kDivision);
    MidiTrackData& track = song->track();
    double now = 0;
    std::int32_t tempoUs = 500000;
    std::int32_t pending = 0;  // ticks since the last record
    auto add = [&](MidiEvent event) {
        now += static_cast<double>(pending) * tempoUs / kDivision;
        event.delta = pending;
        pending = 0;
        exactUs.push_back(now);
        track.append(std::move(event));
    };
    for (int bar = 0; now < seconds * 1e6; ++bar) {
        MidiEvent tempo(0);
        tempo.kind = EventKind::Meta;
        tempo.channel = kNoChannel;
        tempo.subtype = 0x51;
        tempo.value = 330000 + (bar * 7919) % 340000;  // about 88 to 180 bpm, rarely whole
        add(std::move(tempo));
        tempoUs = track.event(track.count() - 1).value;
        for (std::int32_t tick = 0; tick < kTicksPerBar; tick += kStep) {
            for (std::int32_t channel = 0; channel < 16; ++channel) {
                MidiEvent note(0);
                note.kind = (tick / kStep) % 2 == 0 ? EventKind::NoteOn : EventKind::NoteOff;
                note.channel = channel;
                note.data1 = 36 + channel * 3 + (tick / kStep) % 12;
                note.velocity = 90;
                add(std::move(note));
            }
            pending += kStep;
        }
    }
    return song;
}

struct Result {
    double medianUs, p99Us, maxUs, endDriftUs;
};

Result Play(MidiF0Data& song, const std::vector<double>& exactUs, SequencerTiming timing)
{
    SequencerState::instance().setTiming(timing);
    const std::size_t count = exactUs.size();
    std::vector<std::int64_t> actual(count, 0);
    std::atomic<bool> ended{false};
    TimerService& timers = *CurrentTimerService();
    {
        CallBackPlayer player(
            song, -1, [&ended] { ended.store(true); },
            [&](std::int32_t index, std::int32_t, MidiEvent*) {
                if (index >= 0 && static_cast<std::size_t>(index) < count)
                    actual[static_cast<std::size_t>(index)] = timers.nowUs();
            },
            0, 0, -1);
        while (SequencerState::instance().playing.load() == 1)
            timers.sleepFor(50);
    }
    std::vector<double> errors(count);
    for (std::size_t i = 0; i < count; ++i)
        errors[i] = static_cast<double>(actual[i] - actual[0]) - exactUs[i];
    const double endDrift = errors.back();
    for (double& e : errors)
        e = std::fabs(e);
    std::sort(errors.begin(), errors.end());
    return {errors[count / 2], errors[count * 99 / 100], errors.back(), endDrift};
}

}  // namespace

int main(int argc, char** argv)
{
    int seconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: sonrigo_playback_timing [--seconds N]\n");
            return 2;
        }
    }
    if (seconds <= 0)
        return 2;
    InstallMessageSink(std::make_shared<StderrMessageSink>());
    InstallMidiOutputSystem(std::make_shared<DiscardingOutput>());

    std::vector<double> exactUs;
    auto song = MakeSong(seconds, exactUs);
    std::printf("song: %d records over %.1f s, a tempo change every bar\n", song->track().count(),
                exactUs.back() / 1e6);
    bool ok = true;
    for (SequencerTiming timing : {SequencerTiming::Exact, SequencerTiming::Literal}) {
        const Result r = Play(*song, exactUs, timing);
        const bool exact = timing == SequencerTiming::Exact;
        std::printf("%-8s dispatch error median %7.0f us  p99 %7.0f us  max %8.0f us   end drift %+10.0f us\n",
                    exact ? "exact" : "literal", r.medianUs, r.p99Us, r.maxUs, r.endDriftUs);
        if (exact)
            ok = r.p99Us < 1000 && std::fabs(r.endDriftUs) < 1000;
    }
    std::printf("target (exact): p99 under 1000 us, end drift under 1000 us: %s\n", ok ? "met" : "NOT MET");
    return 0;
}
