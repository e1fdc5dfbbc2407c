#include "CliPlay.h"

#include <unistd.h>

#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <memory>

#include "playback/CallBackPlayer.h"
#include "playback/MusicPlayer.h"
#include "platform/RtMidiOutputSystem.h"
#include "platform/TimerService.h"
#include "smf/MidiF0Data.h"
#include "smf/MidiFileLoader.h"
#include "song/MidiTrackData.h"

namespace sonrigo {

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int)
{
    gInterrupted.store(true);
}

constexpr std::uint32_t kPollMs = 100;
constexpr std::int32_t kTicksPerQuarter = MidiF0Data::kPlayDivision;

// "bar 12 beat 3" of a 4/4 count at the play copy's division, and the time.
void ShowPosition(std::int32_t tick, std::int64_t elapsedUs, bool terminal)
{
    if (!terminal)
        return;
    const std::int32_t beats = tick / kTicksPerQuarter;
    const std::int64_t seconds = elapsedUs / 1'000'000;
    std::fprintf(stderr, "\r  %02lld:%02lld  bar %4d beat %d  tick %8d ", static_cast<long long>(seconds / 60),
                 static_cast<long long>(seconds % 60), beats / 4 + 1, beats % 4 + 1, tick);
    std::fflush(stderr);
}

}  // namespace

bool ParsePlayArgs(const std::vector<std::string>& args, PlayOptions& options)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "--port" || arg == "--start-tick") && i + 1 < args.size()) {
            const std::string& value = args[++i];
            if (arg == "--port") {
                options.port = value;
            } else {
                const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), options.startTick);
                if (error != std::errc() || end != value.data() + value.size() || options.startTick < 0)
                    return false;
            }
        } else if (!arg.empty() && arg[0] != '-' && options.path.empty()) {
            options.path = arg;
        } else {
            return false;
        }
    }
    return !options.path.empty();
}

int RunPlay(const PlayOptions& options)
{
    if (options.port) {
        auto system = std::make_shared<RtMidiOutputSystem>();
        system->setPreferredPort(*options.port);
        InstallMidiOutputSystem(system);
    }

    MidiFileLoader loader(options.path);
    if (loader.size() == 0)
        return 1;
    loader.Flatten();
    const MidiF0Data* playable = loader.playable();
    if (playable == nullptr)
        return 1;

    std::int32_t cut = 0;
    std::unique_ptr<MidiF0Data> copy = playable->MakePlayCopy(cut);
    if (copy->track().count() == 0) {
        std::fprintf(stderr, "sonrigo: %s has no events to play\n", options.path.c_str());
        return 1;
    }

    std::atomic<bool> ended{false};
    std::atomic<std::int64_t> dispatched{0};
    PlaybackParameters parameters;
    parameters.song = copy.get();
    parameters.onEnd = [&ended] { ended.store(true); };
    parameters.onEvent = [&dispatched](std::int32_t, std::int32_t, MidiEvent*) { dispatched.fetch_add(1); };
    parameters.tickBase = cut;
    parameters.startTick = options.startTick;

    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);
    sigaction(SIGTERM, &action, nullptr);

    TimerService& timers = *CurrentTimerService();
    const bool terminal = isatty(STDERR_FILENO) != 0;
    MusicPlayer& player = MusicPlayer::instance();
    const std::int64_t started = timers.nowUs();
    player.startWorker(parameters);
    while (!ended.load() && !gInterrupted.load()) {
        ShowPosition(CallBackPlayer::tickPosition(), timers.nowUs() - started, terminal);
        timers.sleepFor(kPollMs);
    }
    const bool stoppedByUser = !ended.load();
    if (stoppedByUser)
        player.stopPlayback();
    player.shutdown();
    ShowPosition(CallBackPlayer::tickPosition(), timers.nowUs() - started, terminal);
    if (terminal)
        std::fputc('\n', stderr);
    sigaction(SIGINT, &previous, nullptr);
    // The end callback also runs when playback could not start at all.
    return stoppedByUser || dispatched.load() > 0 ? 0 : 1;
}

}  // namespace sonrigo
