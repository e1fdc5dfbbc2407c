#include "CliPlay.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <charconv>
#include <cstdio>
#include <memory>

#include "playback/CallBackPlayer.h"
#include "playback/MusicPlayer.h"
#include "platform/FluidSoftSynth.h"
#include "platform/RtMidiOutputSystem.h"
#include "platform/TimerService.h"
#include "smf/MidiF0Data.h"
#include "smf/MidiFileLoader.h"
#include "song/MidiTrackData.h"
#include "platform/WaveOut.h"
#include "SignalWatchdog.h"
#include "SilentMidiOutput.h"
#include "vsthost/BuiltInSynthOutput.h"
#include "vsthost/ChannelRouter.h"
#include "vsthost/RackEventQueue.h"
#include "vsthost/VstRack.h"

namespace sonrigo {

namespace {

constexpr std::uint32_t kPollMs = 100;
// The audio engine's notifications are handled at least this often.
constexpr std::uint32_t kRackPollMs = 10;
// What plays after the song's end, for the instruments' releases.
constexpr std::uint32_t kTailMs = 2000;

// What the playback callbacks use, owned with them: a worker given up on and
// left running may still call them after RunPlay has returned. The rack goes
// with the router that sends to it, and its event queue with the rack.
struct PlayState {
    std::atomic<bool> ended{false};
    std::atomic<std::int64_t> dispatched{0};
    RackEventQueue rackEvents;
    std::unique_ptr<VstRack> rack;
    std::unique_ptr<ChannelRouter> router;
};

// Stops the audio and removes the instruments, in the player's order.
void ShutDownRack(VstRack& rack)
{
    rack.stop();
    for (std::int32_t slot = 0; slot < VstRack::kSlotCount; ++slot)
        rack.suspendPlugin(slot);
    rack.removeAllPlugins();
}
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
        const bool takesValue = arg == "--port" || arg == "--start-tick" || arg == "--vst" || arg == "--vst-all";
        if (takesValue && i + 1 < args.size()) {
            const std::string& value = args[++i];
            if (arg == "--port") {
                options.port = value;
            } else if (arg == "--vst" || arg == "--vst-all") {
                if (!ParseInstrumentOption(arg, value, options.instruments))
                    return false;
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
    const SignalWatchdog watchdog("");
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
    // Shared with the worker, which may outlive this function if it is given up on.
    const std::shared_ptr<MidiF0Data> copy = playable->MakePlayCopy(cut);
    if (copy->track().count() == 0) {
        std::fprintf(stderr, "sonrigo: %s has no events to play\n", options.path.c_str());
        return 1;
    }

    // The audio engine, when some channel has an instrument or the machine
    // has no MIDI output port: the built-in synth then plays the channels
    // without one. Both are made before playing starts, so that loading a
    // SoundFont does not delay the song.
    const bool noPort = !options.port && CurrentMidiOutputSystem()->portNames().empty();
    std::shared_ptr<FluidSoftSynth> synth;
    if (noPort) {
        std::string error;
        synth = FluidSoftSynth::Create(FluidSoftSynth::DefaultSoundFont(), VstRack::kSampleRate, error);
        if (!synth)
            std::fprintf(stderr, "sonrigo: no MIDI output port, and %s\n", error.c_str());
    }
    const auto state = std::make_shared<PlayState>();
    RackEventQueue& rackEvents = state->rackEvents;
    std::unique_ptr<VstRack>& rack = state->rack;
    std::unique_ptr<ChannelRouter>& router = state->router;
    std::shared_ptr<MidiOutputSystem> previousOutput;
    if (!options.instruments.empty() || synth) {
        rack = std::make_unique<VstRack>(&rackEvents);
        router = std::make_unique<ChannelRouter>(*rack);
        for (const auto& [channel, path] : options.instruments) {
            if (rack->loadInstruments(std::span(&channel, 1), path) == 0) {
                ShutDownRack(*rack);
                // A signal during the plug-in's trial gives the trial up.
                if (watchdog.interrupted())
                    return kInterruptedStatus;
                std::fprintf(stderr, "sonrigo: channel %d: %s did not load\n", channel + 1, path.c_str());
                return 1;
            }
            router->setRouted(channel, true);
        }
        if (noPort) {
            previousOutput = CurrentMidiOutputSystem();
            if (synth) {
                rack->setSoftSynth(synth);
                InstallMidiOutputSystem(std::make_shared<BuiltInSynthOutput>(previousOutput, *rack, FluidSoftSynth::kName));
            } else {
                std::fprintf(stderr, "sonrigo: channels without an instrument are silent\n");
                InstallMidiOutputSystem(std::make_shared<SilentMidiOutput>());
            }
        }
        if (!rack->start()) {
            if (previousOutput)
                InstallMidiOutputSystem(previousOutput);
            ShutDownRack(*rack);
            return 1;
        }
        std::fprintf(stderr, "audio: %s\n", CurrentWaveOutService()->name().c_str());
    }
    if (const std::string output = DefaultPortName(*CurrentMidiOutputSystem()); !output.empty())
        std::fprintf(stderr, "MIDI output: %s\n", output.c_str());

    PlaybackParameters parameters;
    parameters.song = copy.get();
    parameters.onEnd = [state] { state->ended.store(true); };
    parameters.onEvent = [state](std::int32_t index, std::int32_t tick, MidiEvent* record) {
        if (state->router)
            state->router->onEvent(index, tick, record);
        state->dispatched.fetch_add(1);
    };
    // Once the player is gone, the instruments let go of what they still hold.
    parameters.onReleased = [state] {
        if (state->router)
            state->router->releaseNotes();
    };
    parameters.keepAlive = copy;
    parameters.tickBase = cut;
    parameters.startTick = options.startTick;

    const std::shared_ptr<TimerService> clock = CurrentTimerService();
    TimerService& timers = *clock;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    MusicPlayer& player = MusicPlayer::instance();
    const std::int64_t started = timers.nowUs();
    player.startWorker(parameters);
    std::int64_t nextShow = started;
    while (!state->ended.load() && !watchdog.interrupted()) {
        const std::int64_t now = timers.nowUs();
        if (now >= nextShow) {
            ShowPosition(CallBackPlayer::tickPosition(), now - started, terminal);
            nextShow = now + kPollMs * 1000;
        }
        if (rack) {
            // The rack's owner: its buffers go back to the device from here.
            rackEvents.dispatch(*rack);
            rackEvents.waitFor(std::chrono::milliseconds(kRackPollMs));
        } else {
            timers.sleepFor(kPollMs);
        }
    }
    const bool stoppedByUser = !state->ended.load();
    if (stoppedByUser)
        player.stopPlayback();
    if (rack && !stoppedByUser) {
        // The instruments' last notes are still in the ring: let them play out.
        const std::int64_t until = timers.nowUs() + std::int64_t{kTailMs} * 1000;
        while (timers.nowUs() < until && !watchdog.interrupted()) {
            rackEvents.dispatch(*rack);
            rackEvents.waitFor(std::chrono::milliseconds(kRackPollMs));
        }
    }
    player.shutdown();
    if (previousOutput)
        InstallMidiOutputSystem(previousOutput);
    if (rack)
        ShutDownRack(*rack);
    // Once the worker has finished no callback comes any more: the rack goes
    // now, on this thread. A worker given up on keeps it, stopped and empty.
    if (player.idle()) {
        router.reset();
        rack.reset();
    }
    ShowPosition(CallBackPlayer::tickPosition(), timers.nowUs() - started, terminal);
    if (terminal)
        std::fputc('\n', stderr);
    if (stoppedByUser)
        return kInterruptedStatus;
    // The end callback also runs when playback could not start at all.
    return state->dispatched.load() > 0 ? 0 : 1;
}

}  // namespace sonrigo
