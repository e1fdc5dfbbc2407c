#include "CliRender.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <memory>
#include <set>

#include "platform/FluidSoftSynth.h"
#include "platform/SoundFileSink.h"
#include "SignalWatchdog.h"
#include "SilentMidiOutput.h"
#include "smf/MidiF0Data.h"
#include "smf/MidiFileLoader.h"
#include "song/MidiTrackData.h"
#include "vsthost/VirtualAudioSession.h"
#include "vsthost/VstRack.h"

namespace sonrigo {
namespace {

constexpr double kMaxTailSeconds = 600.0;
// A WAV file holds at most 4 GB, 13.5 hours of 16-bit mono at 44.1 kHz; a
// longer "song" is a damaged file's huge delta times, which would otherwise
// render silence for days.
constexpr std::int64_t kMaxSongUs = std::int64_t{12} * 3600 * 1'000'000;
constexpr int kBarWidth = 30;
constexpr std::int64_t kDefaultTempoUs = 500'000;
constexpr std::int32_t kTempoMeta = 0x51;

// The song's length in microseconds, for the progress bar: its ticks at the
// tempos it sets (a note's duration counts to its end).
std::int64_t SongLengthUs(const MidiF0Data& song)
{
    const MidiTrackData& track = song.track();
    const std::int64_t division = std::max(song.division(), 1);
    std::int64_t tempoUs = kDefaultTempoUs;
    double us = 0.0;
    double endUs = 0.0;
    for (std::int32_t i = 0; i < track.count(); ++i) {
        const MidiEvent& event = track.event(i);
        us += static_cast<double>(event.delta) * static_cast<double>(tempoUs) / static_cast<double>(division);
        if (event.kind == EventKind::Meta && event.subtype == kTempoMeta && event.value > 0)
            tempoUs = event.value;
        const double ends =
            us + static_cast<double>(std::max(event.duration, 0)) * static_cast<double>(tempoUs) / static_cast<double>(division);
        endUs = std::max(endUs, ends);
    }
    return static_cast<std::int64_t>(endUs);
}

bool HasNotes(const MidiF0Data& song)
{
    const MidiTrackData& track = song.track();
    for (std::int32_t i = 0; i < track.count(); ++i) {
        if (track.event(i).kind == EventKind::Note)
            return true;
    }
    return false;
}

// Whether two names lead to one file, whatever links lie between.
bool SameFile(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

std::string Clock(double seconds)
{
    const auto whole = static_cast<long long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%04.1f", whole / 60, seconds - static_cast<double>(whole / 60 * 60));
    return text;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ShowBar(std::FILE* err, double done, double elapsed, double playedSeconds)
{
    const double fraction = std::clamp(done, 0.0, 1.0);
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    const double speed = elapsed > 0.0 ? playedSeconds / elapsed : 0.0;
    std::fprintf(err, "\r[%s] %3d%%  %s elapsed  %.1fx real time ", bar.c_str(), static_cast<int>(fraction * 100.0),
                 Clock(elapsed).c_str(), speed);
    std::fflush(err);
}

}  // namespace

bool ParseRenderArgs(const std::vector<std::string>& args, RenderOptions& options)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue =
            arg == "-o" || arg == "--vst" || arg == "--vst-all" || arg == "--tail" || arg == "--soundfont";
        if (takesValue && i + 1 < args.size()) {
            const std::string& value = args[++i];
            if (arg == "-o") {
                options.output = value;
            } else if (arg == "--soundfont") {
                options.soundFont = value;
            } else if (arg == "--tail") {
                double seconds = -1.0;
                const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
                if (error != std::errc() || end != value.data() + value.size() || !(seconds >= 0.0) ||
                    seconds > kMaxTailSeconds)
                    return false;
                options.tailSeconds = seconds;
            } else if (!ParseInstrumentOption(arg, value, options.instruments)) {
                return false;
            }
        } else if (!arg.empty() && arg[0] != '-' && options.path.empty()) {
            options.path = arg;
        } else {
            return false;
        }
    }
    return !options.path.empty() && !options.output.empty();
}

int RunRender(const RenderOptions& options, std::FILE* err)
{
    const std::string notWritten = "sonrigo: render interrupted: " + options.output + " was not written\n";
    SignalWatchdog watchdog(notWritten);
    MidiFileLoader loader(options.path);
    if (loader.size() != 0)
        loader.Flatten();
    MidiF0Data* const song = loader.size() != 0 ? loader.playable() : nullptr;
    if (song == nullptr || song->track().count() == 0) {
        std::fprintf(err, "sonrigo: %s: not a playable MIDI file\n", options.path.c_str());
        return 1;
    }

    const std::int64_t songUs = SongLengthUs(*song);
    if (songUs > kMaxSongUs) {
        std::fprintf(err, "sonrigo: %s would last %lld hours: render writes at most 12\n", options.path.c_str(),
                     static_cast<long long>(songUs / 3'600'000'000));
        return 1;
    }
    // A damaged file can load as a song of meta events alone: silence.
    if (!HasNotes(*song)) {
        std::fprintf(err, "sonrigo: %s has no notes: nothing to render\n", options.path.c_str());
        return 1;
    }

    if (SameFile(options.path, options.output)) {
        std::fprintf(err, "sonrigo: cannot write %s: it is the MIDI file being rendered\n", options.output.c_str());
        return 1;
    }
    std::string error;
    std::unique_ptr<SoundFileSink> sink = SoundFileSink::Create(options.output, 44100, error);
    if (!sink) {
        std::fprintf(err, "sonrigo: cannot write %s: %s\n", options.output.c_str(), error.c_str());
        return 1;
    }
    watchdog.removeOnGiveUp(sink->partialPath());

    VirtualAudioSession session(sink.get());
    std::set<std::int32_t> withInstrument;
    for (const auto& [channel, path] : options.instruments) {
        if (!session.loadInstrument(channel, path)) {
            // A signal during the plug-in's trial gives the trial up.
            if (watchdog.interrupted()) {
                sink.reset();
                std::fputs(notWritten.c_str(), err);
                return kRenderInterrupted;
            }
            // The temporary file goes before the instruments already loaded
            // are closed.
            sink.reset();
            std::fprintf(err, "sonrigo: channel %d: %s did not load\n", channel + 1, path.c_str());
            return 1;
        }
        withInstrument.insert(channel);
    }
    // Opening a SoundFont takes a moment and much memory: only when some
    // channel plays on the built-in synth.
    if (withInstrument.size() < 16) {
        const std::string soundFont = options.soundFont.empty() ? FluidSoftSynth::DefaultSoundFont() : options.soundFont;
        std::shared_ptr<FluidSoftSynth> synth = FluidSoftSynth::Create(soundFont, VstRack::kSampleRate, error, watchdog.stopToken());
        if (!synth && watchdog.interrupted()) {
            sink.reset();
            std::fputs(notWritten.c_str(), err);
            return kRenderInterrupted;
        }
        if (!synth) {
            std::fprintf(err, "sonrigo: %s\n", error.c_str());
            return 1;
        }
        session.useSoftSynth(std::move(synth), FluidSoftSynth::kName);
    } else {
        // No port of the machine takes part in a render, not even for the
        // start's General MIDI System On.
        session.useMidiOutput(std::make_shared<SilentMidiOutput>());
    }

    const bool terminal = isatty(fileno(err)) != 0;
    const auto tailMs = static_cast<std::uint32_t>(std::lround(options.tailSeconds * 1000.0));
    const double totalUs = static_cast<double>(songUs) + tailMs * 1000.0;
    const auto started = std::chrono::steady_clock::now();
    const bool played = session.play(*song, tailMs, [&](std::int64_t playedUs) {
        if (terminal)
            ShowBar(err, totalUs > 0.0 ? static_cast<double>(playedUs) / totalUs : 1.0, SecondsSince(started),
                    static_cast<double>(playedUs) / 1e6);
        // A failed write (a full disk, a FIFO's reader gone) makes the rest
        // pointless.
        return !watchdog.interrupted() && !sink->failed();
    }, [&] { return watchdog.interrupted() || sink->failed(); });
    if (terminal)
        std::fputc('\n', err);
    if (!played && (watchdog.interrupted() || !sink->failed())) {
        // The sink's temporary file goes with it: nothing under the final name.
        sink.reset();
        std::fputs(notWritten.c_str(), err);
        return watchdog.interrupted() ? kRenderInterrupted : 1;
    }
    const double audioSeconds = static_cast<double>(sink->frames()) / 44100.0;
    if (!sink->commit(error)) {
        std::fprintf(err, "sonrigo: cannot write %s: %s\n", options.output.c_str(), error.c_str());
        return 1;
    }
    const double elapsed = SecondsSince(started);
    std::fprintf(err, "rendered %s to %s: %s of audio in %.2f s, %.1fx real time\n", options.path.c_str(),
                 options.output.c_str(), Clock(audioSeconds).c_str(), elapsed,
                 elapsed > 0.0 ? audioSeconds / elapsed : 0.0);
    return 0;
}

}  // namespace sonrigo
