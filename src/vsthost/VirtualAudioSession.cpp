#include "vsthost/VirtualAudioSession.h"

#include <atomic>

#include "platform/VirtualWaveOutService.h"
#include "playback/MusicPlayer.h"
#include "smf/MidiF0Data.h"
#include "vsthost/BuiltInSynthOutput.h"

namespace sonrigo {
namespace {

// How often the owner's loop handles the rack's notifications and hears the
// progress. Waking the owner takes two thread switches, each up to a
// millisecond on a virtual machine, while the render thread waits: seldom,
// then. The device queues its played buffers again itself, and what must be
// heard at once (the song's end, a stop asked for) is looked at by the
// clock's thread at every step.
constexpr std::uint32_t kOwnerStepMs = 10000;
constexpr std::int64_t kProgressStepUs = std::int64_t{kOwnerStepMs} * 1000;

}  // namespace

VirtualAudioSession::VirtualAudioSession(SampleSink* sink, VirtualTimerService::Options clockOptions)
    : previousTimers_(CurrentTimerService()),
      previousWaveOut_(CurrentWaveOutService()),
      clock_(std::make_shared<VirtualTimerService>(clockOptions))
{
    InstallTimerService(clock_);
    InstallWaveOutService(std::make_shared<VirtualWaveOutService>(clock_, sink));
    rack_ = std::make_unique<VstRack>(&events_);
    router_ = std::make_unique<ChannelRouter>(*rack_);
}

VirtualAudioSession::~VirtualAudioSession()
{
    rack_->stop();
    for (std::int32_t slot = 0; slot < VstRack::kSlotCount; ++slot)
        rack_->suspendPlugin(slot);
    rack_->removeAllPlugins();
    if (previousMidiOutput_)
        InstallMidiOutputSystem(previousMidiOutput_);
    router_.reset();
    rack_.reset();
    InstallWaveOutService(previousWaveOut_);
    InstallTimerService(previousTimers_);
}

bool VirtualAudioSession::loadInstrument(std::int32_t channel, const std::string& path)
{
    const bool loaded = rack_->loadInstruments(std::span(&channel, 1), path) == 1;
    router_->setRouted(channel, loaded);
    if (rack_->running())
        settle();
    return loaded;
}

void VirtualAudioSession::useSoftSynth(std::shared_ptr<SoftSynth> synth, const std::string& name)
{
    rack_->setSoftSynth(std::move(synth));
    useMidiOutput(std::make_shared<BuiltInSynthOutput>(nullptr, *rack_, name));
}

void VirtualAudioSession::useMidiOutput(std::shared_ptr<MidiOutputSystem> output)
{
    std::shared_ptr<MidiOutputSystem> previous = CurrentMidiOutputSystem();
    InstallMidiOutputSystem(std::move(output));
    if (!previousMidiOutput_)
        previousMidiOutput_ = std::move(previous);
}

bool VirtualAudioSession::start()
{
    if (!rack_->start())
        return false;
    settle();
    return true;
}

void VirtualAudioSession::settle()
{
    // A thread just started runs beside this one at the same instant, in an
    // order real time decides; sleeping for no time lets it reach its first
    // sleep before this thread goes on, so that runs repeat exactly.
    clock_->sleepFor(0);
}

void VirtualAudioSession::runFor(std::uint32_t ms)
{
    const std::int64_t until = clock_->nowUs() + std::int64_t{ms} * 1000;
    while (clock_->nowUs() < until) {
        events_.dispatch(*rack_);
        const std::int64_t left = (until - clock_->nowUs() + 999) / 1000;
        clock_->sleepFor(static_cast<std::uint32_t>(std::min<std::int64_t>(left, kOwnerStepMs)));
    }
    events_.dispatch(*rack_);
}

bool VirtualAudioSession::play(MidiF0Data& song, std::uint32_t tailMs,
                               const std::function<bool(std::int64_t playedUs)>& progress,
                               const std::function<bool()>& stopSoon)
{
    if (!rack_->running() && !start())
        return false;
    // Owned by the callback too: a worker given up on may call it late.
    const auto ended = std::make_shared<std::atomic<bool>>(false);
    const std::int64_t started = clock_->nowUs();
    std::int64_t nextProgress = started;
    const auto stopAsked = [&stopSoon] { return stopSoon && stopSoon(); };
    // Tells the progress, when due or when a stop is asked for, and whether
    // to go on.
    const auto goOn = [&] {
        const std::int64_t now = clock_->nowUs();
        if (!progress || (now < nextProgress && !stopAsked()))
            return true;
        nextProgress = now + kProgressStepUs;
        return progress(now - started);
    };
    song.Play([ended] { ended->store(true); }, router_->callback(), router_->releaseCallback());
    bool stopped = false;
    while (!ended->load() && !stopped) {
        events_.dispatch(*rack_);
        stopped = !goOn();
        // Wakes at the very instant the song ends or a stop is asked for,
        // whichever thread real time runs first.
        if (!stopped)
            clock_->runUntil([&] { return ended->load() || stopAsked(); }, kOwnerStepMs);
    }
    const std::int64_t tailEnd = clock_->nowUs() + std::int64_t{tailMs} * 1000;
    while (!stopped && clock_->nowUs() < tailEnd) {
        stopped = !goOn();
        if (!stopped)
            runFor(static_cast<std::uint32_t>(std::min<std::int64_t>((tailEnd - clock_->nowUs() + 999) / 1000, kOwnerStepMs)));
    }
    rack_->stop();
    // A song that ended by itself has no player left to stop: only its worker
    // is collected.
    if (stopped)
        song.Stop();
    else
        MusicPlayer::instance().shutdown();
    if (progress && !stopped)
        progress(clock_->nowUs() - started);
    return !stopped;
}

}  // namespace sonrigo
