#include "vsthost/VstRack.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/FileName.h"
#include "common/MessageSink.h"
#include "platform/ThreadPriority.h"
#include "platform/TimerService.h"
#include "vsthost/MonoMix.h"
#include "vsthost/PluginProbe.h"
#include "vsthost/VstPlugin.h"

namespace sonrigo {
namespace {

constexpr const char* kOutOfMemoryText = "メモリが足りません。";
constexpr const char* kWrongChannelText = "MIDIチャンネルの指定が正しくありません。";
constexpr const char* kChangeWhileRunningText =
    "VstRack内部エラー：オーディオを止めずに楽器を入れ替えようとしました。";
constexpr const char* kNoAnswerText = "プラグインが応答しないため、閉じずに残しました。";
// How long removing a plug-in waits for a call from the timer thread to come
// back out of it: far longer than any program change takes.
constexpr std::uint32_t kRemoveWaitMs = 2000;

// Below the sequencer's timer thread, which must never wait for a render pass.
constexpr int kRenderPriority = 60;
// How often the watch looks at the render thread's call into a plug-in.
constexpr std::chrono::milliseconds kWatchEvery{250};

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

WaveFormat RackFormat()
{
    WaveFormat format;
    format.formatTag = 1;
    format.channels = 1;
    format.samplesPerSec = 44100;
    format.avgBytesPerSec = 88200;
    format.blockAlign = 2;
    format.bitsPerSample = 16;
    format.extraSize = 0;
    return format;
}

}  // namespace

struct VstRack::Slot {
    Slot(std::unique_ptr<VstPlugin> loaded, std::string file) : plugin(std::move(loaded)), name(std::move(file)) {}
    std::unique_ptr<VstPlugin> plugin;
    std::string name;  // the library's file name, for messages
    std::atomic<std::int32_t> callers{0};
    // Set by the watch: the plug-in did not come back from a render call.
    std::atomic<bool> givenUp{false};
};

// One render thread's call into a plug-in. `call` is 0 between calls, else
// the call's serial number and slot, so that the thread coming out of a call
// and the watch giving it up settle it with one compare-and-swap each: only
// one of them wins.
struct VstRack::RenderWatch {
    static constexpr std::uint64_t kGivenUp = ~std::uint64_t{0};
    static std::uint64_t Encode(std::uint64_t serial, std::int32_t slot)
    {
        return serial << 5 | static_cast<std::uint64_t>(slot + 1);
    }
    static std::int32_t SlotOf(std::uint64_t call) { return static_cast<std::int32_t>(call & 31) - 1; }

    std::atomic<std::uint64_t> call{0};
    std::atomic<std::int64_t> sinceNs{0};  // steady clock, when the call began
    std::uint64_t serial = 0;              // render thread only
};

VstRack::VstRack(RackWindow* window, const RackSetup& setup) : VstRack(CurrentWaveOutService(), window, setup) {}

VstRack::VstRack(std::shared_ptr<WaveOutService> service, RackWindow* window, const RackSetup& setup)
    : clock_(CurrentTimerService()),
      format_(RackFormat()),
      waveOut_(std::move(service), setup.deviceId, &format_, setup.bufferBytes, setup.bufferCount),
      renderPosition_(setup.bufferBytes, setup.bufferCount, &format_),
      targetPosition_(setup.bufferBytes, setup.bufferCount, &format_),
      blockSize_(static_cast<std::int32_t>((setup.periodMs * 44100) * 0.002)),
      bufferBytes_(setup.bufferBytes),
      bufferCount_(setup.bufferCount),
      periodMs_(setup.periodMs),
      latencyFrames_(static_cast<std::int32_t>((setup.leadMs + setup.periodMs) * 0.001 * 44100)),
      stuckCallLimit_(setup.stuckCallLimit),
      window_(window),
      deviceId_(setup.deviceId),
      synthLane_(static_cast<std::size_t>(std::max(blockSize_, 0)))
{
    try {
        const auto frames = static_cast<std::size_t>(std::max(blockSize_, 0));
        mixBuffer_.assign(frames, 0);
        mixTotals_.assign(frames, 0.0);
    } catch (const std::bad_alloc&) {
        blockSize_ = 0;
        ShowMessage(kOutOfMemoryText);
    }
}

VstRack::~VstRack()
{
    // A device left open by a failed start is closed here too.
    if (running() || waveOut_.isOpen())
        stop();
    for (std::int32_t slot = 0; slot < kSlotCount; ++slot)
        takeSlot(slot).reset();
}

VstRack::Call::~Call()
{
    if (slot_ != nullptr)
        slot_->callers.fetch_sub(1, std::memory_order_release);
}

VstPlugin* VstRack::Call::operator->() const
{
    return slot_->plugin.get();
}

VstPlugin* VstRack::occupied(std::int32_t slot) const
{
    if (!ValidSlot(slot))
        return nullptr;
    const std::unique_ptr<Slot>& entry = slots_[static_cast<std::size_t>(slot)];
    return entry && !entry->givenUp.load(std::memory_order_acquire) ? entry->plugin.get() : nullptr;
}

VstRack::Call VstRack::call(std::int32_t slot) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (occupied(slot) == nullptr)
        return Call(nullptr);
    Slot* entry = slots_[static_cast<std::size_t>(slot)].get();
    entry->callers.fetch_add(1, std::memory_order_acq_rel);
    return Call(entry);
}

std::unique_ptr<VstRack::Slot> VstRack::takeSlot(std::int32_t slot)
{
    std::unique_ptr<Slot> entry;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        entry = std::move(slots_[static_cast<std::size_t>(slot)]);
        if (entry)
            --pluginCount_;
    }
    // A thread is still inside it: its code stays loaded for good.
    if (entry && entry->givenUp.load(std::memory_order_acquire))
        entry.release();
    return entry;
}

bool VstRack::stoppedForChange() const
{
    // The render thread calls the plug-ins and the synth without the lock.
    if (!running())
        return true;
    ShowMessage(kChangeWhileRunningText);
    return false;
}

void VstRack::loadPlugin(std::int32_t slot, const std::string& path)
{
    if (!ValidSlot(slot)) {
        ShowMessage(kWrongChannelText);
        return;
    }
    if (!stoppedForChange())
        return;
    if (!PluginProbe::Admits(path)) {
        removePlugin(slot);
        return;
    }
    loadAdmitted(slot, path);
}

void VstRack::loadAdmitted(std::int32_t slot, const std::string& path)
{
    removePlugin(slot);
    auto plugin = std::make_unique<VstPlugin>(static_cast<float>(kSampleRate), blockSize_, kEventsPerBlock);
    if (!plugin->load(path))
        return;
    auto entry = std::make_unique<Slot>(std::move(plugin), FileNameFromPath(path));
    const std::lock_guard<std::mutex> lock(mutex_);
    slots_[static_cast<std::size_t>(slot)] = std::move(entry);
    ++pluginCount_;
}

void VstRack::removePlugin(std::int32_t slot)
{
    if (!ValidSlot(slot) || !slots_[static_cast<std::size_t>(slot)] || !stoppedForChange())
        return;
    std::unique_ptr<Slot> entry = takeSlot(slot);
    if (!entry)
        return;
    // A program change from the timer thread may still be inside the plug-in.
    for (std::uint32_t waited = 0; entry->callers.load(std::memory_order_acquire) != 0; ++waited) {
        if (waited >= kRemoveWaitMs) {
            // Closing it now would unload code that is running: it is left
            // as it is, for the rest of the process.
            ShowMessage(kNoAnswerText);
            entry.release();
            return;
        }
        clock_->sleepFor(1);
    }
    entry->plugin->close();
}

void VstRack::removeAllPlugins()
{
    if (!stoppedForChange())
        return;
    for (std::int32_t slot = 0; slot < kSlotCount; ++slot)
        removePlugin(slot);
}

void VstRack::resumePlugin(std::int32_t slot)
{
    if (VstPlugin* p = occupied(slot))
        p->resume();
}

void VstRack::suspendPlugin(std::int32_t slot)
{
    if (VstPlugin* p = occupied(slot))
        p->suspend();
}

std::int32_t VstRack::paramCount(std::int32_t slot)
{
    VstPlugin* p = occupied(slot);
    return p != nullptr ? p->numParams() : 0;
}

std::int32_t VstRack::programCount(std::int32_t slot)
{
    VstPlugin* p = occupied(slot);
    return p != nullptr ? p->numPrograms() : 0;
}

std::string VstRack::paramName(std::int32_t slot, std::int32_t parameter)
{
    VstPlugin* p = occupied(slot);
    return p != nullptr ? p->getParamName(parameter) : std::string();
}

std::string VstRack::paramLabel(std::int32_t slot, std::int32_t parameter)
{
    VstPlugin* p = occupied(slot);
    return p != nullptr ? p->getParamLabel(parameter) : std::string();
}

std::string VstRack::paramDisplay(std::int32_t slot, std::int32_t parameter)
{
    VstPlugin* p = occupied(slot);
    return p != nullptr ? p->getParamDisplay(parameter) : std::string();
}

void VstRack::setParameter(std::int32_t slot, std::int32_t parameter, float value)
{
    if (VstPlugin* p = occupied(slot))
        p->setParameter(parameter, value);
}

// The three program calls also come from the timer callback, while the owner
// may be replacing the slot's plug-in: each call keeps it from being closed
// under it, without holding the lock while the plug-in works.
std::string VstRack::programName(std::int32_t slot)
{
    const Call p = call(slot);
    return p ? p->getProgramName() : std::string();
}

std::string VstRack::programNameIndexed(std::int32_t slot, std::int32_t program)
{
    VstPlugin* p = occupied(slot);
    return p != nullptr ? p->getProgramNameIndexed(program) : std::string();
}

std::int32_t VstRack::getProgram(std::int32_t slot)
{
    const Call p = call(slot);
    return p ? p->getProgram() : 0;
}

void VstRack::setProgram(std::int32_t slot, std::int32_t program)
{
    if (const Call p = call(slot))
        p->setProgram(program);
}

void VstRack::openEditor(std::int32_t slot)
{
    for (std::int32_t other = 0; other < kSlotCount; ++other) {
        if (VstPlugin* p = occupied(other))
            p->closeEditor();
    }
    if (VstPlugin* p = occupied(slot))
        p->openEditor();
}

std::int32_t VstRack::loadInstruments(std::span<const std::int32_t> slots, const std::string& path,
                                      const std::function<void()>& beforeProgram,
                                      const std::function<void(std::int32_t)>& afterProgram)
{
    // Tried before the audio stops: the song plays on meanwhile.
    const bool admitted = std::any_of(slots.begin(), slots.end(), ValidSlot) && PluginProbe::Admits(path);
    const bool wasRunning = running();
    stop();
    std::int32_t loaded = 0;
    VstPlugin* first = nullptr;
    for (const std::int32_t slot : slots) {
        if (!ValidSlot(slot)) {
            ShowMessage(kWrongChannelText);
            continue;
        }
        suspendPlugin(slot);
        if (admitted)
            loadAdmitted(slot, path);
        else
            removePlugin(slot);
        VstPlugin* p = occupied(slot);
        if (p == nullptr)
            continue;
        resumePlugin(slot);
        ++loaded;
        if (first == nullptr)
            first = p;
    }
    // Said once for all the slots it went into.
    if (first != nullptr) {
        if (const std::string reason = first->silenceReason(); !reason.empty())
            ShowMessage(FileNameFromPath(path) + " will not make a sound: " + reason + ".");
    }
    if (beforeProgram)
        beforeProgram();
    for (const std::int32_t slot : slots) {
        setProgram(slot, 0);
        if (afterProgram)
            afterProgram(slot);
    }
    if (wasRunning)
        start();
    return loaded;
}

void VstRack::queueMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    VstPlugin* p = occupied(status & 0x0F);
    if (p == nullptr)
        return;
    if (!waveOut_.isOpen()) {
        p->keepEvent(status, data1, data2);
        return;
    }
    const auto deltaFrames = static_cast<vst::VstInt32>(waveOut_.position() + static_cast<std::uint32_t>(latencyFrames_) -
                                                        renderPosition_.absolute());
    p->addEvent(vst::MakeMidiEvent(status, data1, data2, deltaFrames));
}

void VstRack::setSoftSynth(std::shared_ptr<SoftSynth> synth)
{
    if (!stoppedForChange())
        return;
    const std::lock_guard<std::mutex> lock(mutex_);
    synthLane_.attach(std::move(synth));
}

bool VstRack::queueSynthMessage(std::span<const std::uint8_t> message)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto delta = static_cast<std::int32_t>(waveOut_.position() + static_cast<std::uint32_t>(latencyFrames_) -
                                                 renderPosition_.absolute());
    return synthLane_.queue(delta, message);
}

std::uint64_t VstRack::synthMessagesDropped() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return synthLane_.dropped();
}

bool VstRack::start()
{
    if (running())
        return true;
    if (!waveOut_.query())
        return false;
    // The stream becomes visible to queueMidi only once it is open: no lock,
    // so that no message is shown while one is held.
    if (!waveOut_.open(window_))
        return false;
    if (!waveOut_.startQueue())
        return false;
    waveOut_.circulate();
    waveOut_.checkLead(static_cast<std::uint32_t>(latencyFrames_), periodMs_);
    waveOut_.restart();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        renderPosition_.set(0);
    }
    running_.store(true, std::memory_order_release);
    const std::lock_guard<std::mutex> lock(threadMutex_);
    startRenderThread();
    watchEnding_ = false;
    watchThread_ = std::thread([this] { watchRenderThread(); });
    return true;
}

void VstRack::startRenderThread()
{
    renderEnded_.store(false, std::memory_order_release);
    clock_->threadStarting();
    renderWatch_ = std::make_shared<RenderWatch>();
    renderThread_ = std::thread([this, watch = renderWatch_] { renderThread(watch); });
    if (clock_->realTime())
        RaiseToRealTime(renderThread_.native_handle(), kRenderPriority);
}

void VstRack::stop()
{
    running_.store(false, std::memory_order_release);
    // Waits by sleeping on the clock, so that a virtual clock can move on to
    // the render thread's wake-up. A thread stuck in a plug-in is given up
    // by the watch meanwhile.
    while (!renderEnded_.load(std::memory_order_acquire))
        clock_->sleepFor(1);
    {
        const std::lock_guard<std::mutex> lock(threadMutex_);
        if (renderThread_.joinable())
            renderThread_.join();
        watchEnding_ = true;
    }
    watchWake_.notify_all();
    if (watchThread_.joinable())
        watchThread_.join();
    {
        // queueMidi reads the device's position: from here on it sees none,
        // and the device closes (perhaps with a message) with no lock held.
        const std::lock_guard<std::mutex> lock(mutex_);
        waveOut_.withdraw();
    }
    waveOut_.reset();
    waveOut_.close();
}

void VstRack::onBufferDone(WaveHeader* header)
{
    if (running())
        waveOut_.requeue(header);
}

void VstRack::renderThread(const std::shared_ptr<RenderWatch>& watch)
{
    while (running_.load(std::memory_order_acquire)) {
        if (!renderPass(*watch))
            return;
        clock_->sleepFor(static_cast<std::uint32_t>(std::max(periodMs_, 1)));
    }
    // Said before leaving the clock: stop() sleeps on it until it reads this,
    // and a virtual clock with this thread gone moves on at once, as far as
    // stop()'s looks take it while this thread has not yet run on.
    renderEnded_.store(true, std::memory_order_release);
    clock_->threadEnded();
}

void VstRack::watchRenderThread()
{
    std::unique_lock<std::mutex> lock(threadMutex_);
    while (!watchEnding_) {
        watchWake_.wait_for(lock, kWatchEvery);
        if (watchEnding_ || !renderWatch_)
            continue;
        std::uint64_t call = renderWatch_->call.load(std::memory_order_acquire);
        if (call == 0 || call == RenderWatch::kGivenUp ||
            steadyNs() - renderWatch_->sinceNs.load(std::memory_order_relaxed) <
                std::chrono::duration_cast<std::chrono::nanoseconds>(stuckCallLimit_).count())
            continue;
        // Lost when the call has just come back, or another has begun.
        if (renderWatch_->call.compare_exchange_strong(call, RenderWatch::kGivenUp, std::memory_order_acq_rel))
            giveUpRenderThread(RenderWatch::SlotOf(call));
    }
}

void VstRack::giveUpRenderThread(std::int32_t slot)
{
    Slot* entry = nullptr;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        entry = slots_[static_cast<std::size_t>(slot)].get();
    }
    entry->givenUp.store(true, std::memory_order_release);
    renderThread_.detach();
    // On a virtual clock the thread left behind still counts as awake: the
    // new one comes in before it is let go, so that time does not run on.
    const bool rendersOn = running();
    if (rendersOn)
        startRenderThread();
    clock_->threadEnded();
    if (!rendersOn)
        renderEnded_.store(true, std::memory_order_release);
    if (window_ != nullptr) {
        char text[512];
        std::snprintf(text, sizeof text,
                      "%s on channel %d did not come back from its audio processing for %lld s. It is left "
                      "behind, and the channel is silent until an instrument is loaded into it again.",
                      entry->name.c_str(), slot + 1,
                      static_cast<long long>((stuckCallLimit_.count() + 500) / 1000));
        window_->rackMessage(text);
    }
}

void VstRack::renderPass()
{
    RenderWatch unwatched;
    renderPass(unwatched);
}

bool VstRack::renderPass(RenderWatch& watch)
{
    if (const char* report = waveOut_.takeLossReport(); report != nullptr && window_ != nullptr)
        window_->rackMessage(report);
    targetPosition_.set(waveOut_.position() + static_cast<std::uint32_t>(latencyFrames_));
    const std::int32_t n = std::min(renderPosition_.distanceTo(targetPosition_), blockSize_);
    if (n <= 0)
        return true;
    const std::uint32_t startBuffer = renderPosition_.bufferIndex();
    const std::uint32_t startFrame = renderPosition_.frameOffset();
    {
        // The hand-over: what is queued from here on belongs to the next pass,
        // which starts where this one's target is.
        const std::lock_guard<std::mutex> lock(mutex_);
        for (std::int32_t slot = 0; slot < kSlotCount; ++slot) {
            if (VstPlugin* p = occupied(slot))
                p->handOverEvents(n);
        }
        synthLane_.handOver(n);
        renderPosition_.copyFrom(targetPosition_);
    }
    const auto frames = static_cast<std::size_t>(n);
    std::fill_n(mixTotals_.begin(), frames, 0.0);
    synthLane_.renderInto(mixTotals_.data(), n);
    std::size_t mutedNow = 0;
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        Slot* entry = slots_[slot].get();
        if (entry == nullptr || entry->givenUp.load(std::memory_order_relaxed))
            continue;
        watch.sinceNs.store(steadyNs(), std::memory_order_relaxed);
        std::uint64_t call = RenderWatch::Encode(++watch.serial, static_cast<std::int32_t>(slot));
        watch.call.store(call, std::memory_order_release);
        entry->plugin->flushEvents();
        entry->plugin->process(n);
        // Given up meanwhile: another thread renders now.
        if (!watch.call.compare_exchange_strong(call, 0, std::memory_order_acq_rel))
            return false;
        if (!MonoMix::addPlugin(*entry->plugin, mixTotals_.data(), frames) && entry->plugin->countBadBlock())
            noteMuted(mutedNow++, *entry, static_cast<std::int32_t>(slot));
    }
    if (mutedNow > 0 && window_ != nullptr)
        window_->rackMessage(muteText_.data());
    const double peak = MonoMix::toSamples(mixTotals_.data(), mixBuffer_.data(), frames, gain_.load(std::memory_order_relaxed));
    waveOut_.writeRing(startBuffer, startFrame, mixBuffer_.data(), static_cast<std::uint32_t>(n));
    level_.store(peak > 0.0 ? 20.0 * std::log10(peak) : kSilenceLevel, std::memory_order_release);
    if (window_ != nullptr)
        window_->rackLevel(&level_);
    return true;
}

void VstRack::noteMuted(std::size_t before, const Slot& entry, std::int32_t slot)
{
    // Into a buffer of the render thread's own: nothing is allocated here.
    const std::size_t used = before == 0 ? 0 : std::strlen(muteText_.data());
    char* at = muteText_.data() + used;
    const std::size_t room = muteText_.size() - used;
    if (before == 0)
        std::snprintf(at, room,
                      "%s on channel %d played samples that are not numbers or far beyond full scale, and is muted "
                      "until it is loaded again.",
                      entry.name.c_str(), slot + 1);
    else
        std::snprintf(at, room, " So is %s on channel %d.", entry.name.c_str(), slot + 1);
}

std::int32_t VstRack::pluginCount() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return pluginCount_;
}

VstPlugin* VstRack::plugin(std::int32_t slot) const
{
    return occupied(slot);
}

}  // namespace sonrigo
