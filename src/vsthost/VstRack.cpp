#include "vsthost/VstRack.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "common/MessageSink.h"
#include "platform/ThreadPriority.h"
#include "platform/TimerService.h"
#include "vsthost/VstPlugin.h"

namespace sonrigo {
namespace {

constexpr const char* kOutOfMemoryText = "メモリが足りません。";
constexpr const char* kWrongChannelText = "MIDIチャンネルの指定が正しくありません。";

// Below the sequencer's timer thread, which must never wait for a render pass.
constexpr int kRenderPriority = 60;

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

VstRack::VstRack(RackWindow* window, std::int32_t deviceId, std::int32_t bufferBytes, std::int32_t bufferCount,
                 std::int32_t leadMs, std::int32_t periodMs)
    : VstRack(CurrentWaveOutService(), window, deviceId, bufferBytes, bufferCount, leadMs, periodMs)
{
}

VstRack::VstRack(std::shared_ptr<WaveOutService> service, RackWindow* window, std::int32_t deviceId,
                 std::int32_t bufferBytes, std::int32_t bufferCount, std::int32_t leadMs, std::int32_t periodMs)
    : clock_(CurrentTimerService()),
      format_(RackFormat()),
      waveOut_(std::move(service), deviceId, &format_, bufferBytes, bufferCount),
      renderPosition_(bufferBytes, bufferCount, &format_),
      targetPosition_(bufferBytes, bufferCount, &format_),
      blockSize_(static_cast<std::int32_t>((periodMs * 44100) * 0.002)),
      bufferBytes_(bufferBytes),
      bufferCount_(bufferCount),
      periodMs_(periodMs),
      latencyFrames_(static_cast<std::int32_t>((leadMs + periodMs) * 0.001 * 44100)),
      window_(window),
      deviceId_(deviceId),
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
}

void VstRack::loadPlugin(std::int32_t slot, const std::string& path)
{
    if (!ValidSlot(slot)) {
        ShowMessage(kWrongChannelText);
        return;
    }
    if (occupied(slot) != nullptr)
        removePlugin(slot);
    auto plugin = std::make_unique<VstPlugin>(static_cast<float>(kSampleRate), blockSize_, kEventsPerPlugin);
    if (!plugin->load(path))
        return;
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::int32_t capacity = kEventsPerPlugin * (pluginCount_ + 1);
    std::unique_ptr<vst::VstMidiEvent[]> store(new (std::nothrow) vst::VstMidiEvent[static_cast<std::size_t>(capacity)]());
    if (!store) {
        ShowMessage(kOutOfMemoryText);
        plugin->close();
        return;
    }
    slots_[static_cast<std::size_t>(slot)] = std::move(plugin);
    ++pluginCount_;
    // The events queued so far point into the old store: all are dropped.
    for (auto& p : slots_) {
        if (p)
            p->discardEvents();
    }
    eventStore_ = std::move(store);
    eventCapacity_ = capacity;
    eventCount_ = 0;
}

void VstRack::removePlugin(std::int32_t slot)
{
    std::unique_ptr<VstPlugin> plugin;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (occupied(slot) == nullptr)
            return;
        plugin = std::move(slots_[static_cast<std::size_t>(slot)]);
        --pluginCount_;
    }
    plugin->close();
}

void VstRack::removeAllPlugins()
{
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

// The three program calls also come from the timer callback: the lock keeps
// the plug-in from being removed under them.
std::string VstRack::programName(std::int32_t slot)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    VstPlugin* p = occupied(slot);
    return p != nullptr ? p->getProgramName() : std::string();
}

std::string VstRack::programNameIndexed(std::int32_t slot, std::int32_t program)
{
    VstPlugin* p = occupied(slot);
    return p != nullptr ? p->getProgramNameIndexed(program) : std::string();
}

std::int32_t VstRack::getProgram(std::int32_t slot)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    VstPlugin* p = occupied(slot);
    return p != nullptr ? p->getProgram() : 0;
}

void VstRack::setProgram(std::int32_t slot, std::int32_t program)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (VstPlugin* p = occupied(slot))
        p->setProgram(program);
}

void VstRack::openEditor(std::int32_t slot)
{
    for (auto& p : slots_) {
        if (p)
            p->closeEditor();
    }
    if (VstPlugin* p = occupied(slot))
        p->openEditor();
}

void VstRack::queueMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (eventCount_ >= eventCapacity_)
        return;
    vst::VstMidiEvent& entry = eventStore_[static_cast<std::size_t>(eventCount_)];
    std::memset(&entry, 0, sizeof entry);
    entry.type = vst::kVstMidiType;
    entry.byteSize = sizeof(vst::VstMidiEvent);
    entry.deltaFrames = static_cast<vst::VstInt32>(waveOut_.position() + static_cast<std::uint32_t>(latencyFrames_) -
                                                   renderPosition_.absolute());
    entry.midiData[0] = static_cast<char>(status);
    entry.midiData[1] = static_cast<char>(data1);
    entry.midiData[2] = static_cast<char>(data2);
    if (VstPlugin* p = occupied(status & 0x0F))
        p->addEvent(&entry);
    ++eventCount_;
}

void VstRack::setSoftSynth(std::shared_ptr<SoftSynth> synth)
{
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
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!waveOut_.open(window_))
            return false;
    }
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
    renderEnded_.store(false, std::memory_order_release);
    clock_->threadStarting();
    renderThread_ = std::thread([this] { renderThread(); });
    RaiseToRealTime(renderThread_.native_handle(), kRenderPriority);
    return true;
}

void VstRack::stop()
{
    running_.store(false, std::memory_order_release);
    if (renderThread_.joinable()) {
        // Waits by sleeping on the clock, so that a virtual clock can move on
        // to the render thread's wake-up.
        while (!renderEnded_.load(std::memory_order_acquire))
            clock_->sleepFor(1);
        renderThread_.join();
    }
    // queueMidi reads the device's position: not while it is closed.
    const std::lock_guard<std::mutex> lock(mutex_);
    waveOut_.reset();
    waveOut_.close();
}

void VstRack::onBufferDone(WaveHeader* header)
{
    if (running())
        waveOut_.requeue(header);
}

void VstRack::renderThread()
{
    while (running_.load(std::memory_order_acquire)) {
        renderPass();
        clock_->sleepFor(static_cast<std::uint32_t>(std::max(periodMs_, 1)));
    }
    clock_->threadEnded();
    renderEnded_.store(true, std::memory_order_release);
}

void VstRack::renderPass()
{
    if (const char* report = waveOut_.takeLossReport(); report != nullptr && window_ != nullptr)
        window_->rackMessage(report);
    targetPosition_.set(waveOut_.position() + static_cast<std::uint32_t>(latencyFrames_));
    const std::int32_t n = std::min(renderPosition_.distanceTo(targetPosition_), blockSize_);
    if (n <= 0)
        return;
    const std::uint32_t startBuffer = renderPosition_.bufferIndex();
    const std::uint32_t startFrame = renderPosition_.frameOffset();
    {
        // The hand-over: what is queued from here on belongs to the next pass,
        // which starts where this one's target is.
        const std::lock_guard<std::mutex> lock(mutex_);
        // After a late wake-up an event can be stamped past the block it is
        // handed over with; plug-ins index their buffers with the offset, so
        // it is kept inside the block.
        for (std::int32_t i = 0; i < eventCount_; ++i) {
            vst::VstMidiEvent& event = eventStore_[static_cast<std::size_t>(i)];
            event.deltaFrames = std::clamp(event.deltaFrames, 0, n - 1);
        }
        for (auto& p : slots_) {
            if (p)
                p->flushEvents();
        }
        eventCount_ = 0;
        synthLane_.handOver(n);
        renderPosition_.copyFrom(targetPosition_);
    }
    for (auto& p : slots_) {
        if (p)
            p->process(n);
    }

    const auto frames = static_cast<std::size_t>(n);
    std::fill_n(mixTotals_.begin(), frames, 0.0);
    synthLane_.renderInto(mixTotals_.data(), n);
    for (auto& p : slots_) {
        if (!p || p->numOutputs() <= 0 || p->outputs() == nullptr)
            continue;
        // A plug-in's channels are averaged; the plug-ins are summed.
        const std::int32_t outputs = p->numOutputs();
        float* const* channels = p->outputs();
        for (std::size_t i = 0; i < frames; ++i) {
            double sum = 0.0;
            for (std::int32_t c = 0; c < outputs; ++c)
                sum += channels[c][i];
            mixTotals_[i] += sum / outputs;
        }
    }
    const double gain = gain_.load(std::memory_order_relaxed);
    double peak = 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        double total = mixTotals_[i] * gain;
        peak = std::max(peak, std::fabs(total));  // before clipping
        total = std::clamp(total, -1.0, 1.0);
        mixBuffer_[i] = static_cast<std::int16_t>(total * 32767.0);
    }
    waveOut_.writeRing(startBuffer, startFrame, mixBuffer_.data(), static_cast<std::uint32_t>(n));
    level_.store(peak > 0.0 ? 20.0 * std::log10(peak) : kSilenceLevel, std::memory_order_release);
    if (window_ != nullptr)
        window_->rackLevel(&level_);
}

std::int32_t VstRack::pluginCount() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return pluginCount_;
}

std::int32_t VstRack::eventCapacity() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return eventCapacity_;
}

std::int32_t VstRack::eventCount() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return eventCount_;
}

VstPlugin* VstRack::plugin(std::int32_t slot) const
{
    return occupied(slot);
}

}  // namespace sonrigo
