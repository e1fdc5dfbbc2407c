#include "vsthost/WaveOutDevice.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "common/MessageSink.h"

namespace sonrigo {
namespace {

constexpr const char* kUnsupportedFormatText = "サポートされていないフォーマットです。";
constexpr const char* kAlreadyOpenText = "再生デバイスはオープン済みです。";
constexpr const char* kOpenFailedText = "再生デバイスのオープンに失敗しました。";
constexpr const char* kCloseFailedText = "再生デバイスのクローズに失敗しました。";
// The two preparation texts differ in one particle: each path has its own.
constexpr const char* kStartPrepareFailedText = "バッファが再生用に準備できませんでした。";
constexpr const char* kRequeuePrepareFailedText = "バッファを再生用に準備できませんでした。";
constexpr const char* kQueueFailedText = "バッファを再生キューに登録できませんでした。";
constexpr const char* kUnprepareFailedText = "再生用バッファの開放に失敗しました。";
constexpr const char* kConnectionLostText = "再生デバイスとの接続が失われました。";

// Once a process: the stand-in is chosen once, and a device's period does not
// change between two starts of the audio.
std::atomic<bool> gStandInReported{false};
std::atomic<bool> gPeriodReported{false};

// What a too long period sounds like (measured on JACK at 4096 frames): each
// period plays the frames written in time, then those not written yet, which
// still hold what the ring played one lap before.
std::string PeriodTooLongText(std::uint32_t period, std::uint32_t room, std::uint32_t leadFrames, std::int32_t periodMs,
                              std::uint32_t ringTenthsOfSecond)
{
    return "再生デバイスの周期 " + std::to_string(period) + " フレームが長すぎます。音声は " + std::to_string(periodMs) +
           " ミリ秒ごとに再生位置の " + std::to_string(leadFrames) + " フレーム先まで書き込まれるので、周期は " +
           std::to_string(room) + " フレーム以下でなければなりません。このままでは周期ごとに、まだ書き込まれていない部分で約 " +
           std::to_string(ringTenthsOfSecond / 10) + "." + std::to_string(ringTenthsOfSecond % 10) + " 秒前の音が鳴ります。";
}

// The ring's samples are shared with the device's thread, which plays them
// while the render thread writes others ahead of it, without a lock: each
// sample is stored as a relaxed atomic, which compiles to a plain store.
void StoreSamples(char* to, const char* from, std::size_t bytes)
{
    auto* out = reinterpret_cast<std::int16_t*>(to);
    const auto* in = reinterpret_cast<const std::int16_t*>(from);
    for (std::size_t i = 0; i < bytes / sizeof(std::int16_t); ++i)
        std::atomic_ref<std::int16_t>(out[i]).store(in[i], std::memory_order_relaxed);
}

}  // namespace

WaveOutDevice::WaveOutDevice(std::int32_t deviceId, const WaveFormat* format, std::int32_t bufferBytes,
                             std::int32_t bufferCount)
    : WaveOutDevice(CurrentWaveOutService(), deviceId, format, bufferBytes, bufferCount)
{
}

WaveOutDevice::WaveOutDevice(std::shared_ptr<WaveOutService> service, std::int32_t deviceId, const WaveFormat* format,
                             std::int32_t bufferBytes, std::int32_t bufferCount)
    : service_(std::move(service)), deviceId_(deviceId), format_(format), pool_(bufferBytes, bufferCount)
{
}

WaveOutDevice::~WaveOutDevice() = default;

bool WaveOutDevice::query()
{
    if (!service_ || format_ == nullptr || !service_->query(deviceId_, *format_)) {
        ShowMessage(kUnsupportedFormatText);
        return false;
    }
    if (service_->standsInForMissingDevice() && !gStandInReported.exchange(true))
        ShowMessage(kOpenFailedText);
    return true;
}

bool WaveOutDevice::open(WaveOutWindow* window)
{
    if (handle_) {
        ShowMessage(kAlreadyOpenText);
        return false;
    }
    if (service_ && format_ != nullptr)
        handle_ = service_->open(deviceId_, *format_, window);
    if (!handle_) {
        ShowMessage(kOpenFailedText);
        return false;
    }
    lossReported_.store(false, std::memory_order_relaxed);
    live_.store(handle_.get(), std::memory_order_release);
    return true;
}

bool WaveOutDevice::close()
{
    if (!handle_)
        return true;
    live_.store(nullptr, std::memory_order_release);
    const bool closed = handle_->close();
    handle_.reset();
    if (!closed) {
        ShowMessage(kCloseFailedText);
        return false;
    }
    return true;
}

bool WaveOutDevice::startQueue()
{
    if (!pool_.ok() || !handle_)
        return false;
    pool_.clear();
    handle_->pause();
    for (std::int32_t i = 0; i < pool_.bufferCount(); ++i) {
        WaveHeader& header = *pool_.header(i);
        header.data = pool_.buffer(i);
        header.bufferLength = static_cast<std::uint32_t>(pool_.bufferBytes());
        header.user = 0;
        header.flags.store(0);
        header.loops = 0;
        if (!handle_->prepare(header)) {
            ShowMessage(kStartPrepareFailedText);
            return false;
        }
        if (!handle_->write(header)) {
            ShowMessage(kQueueFailedText);
            return false;
        }
    }
    return true;
}

void WaveOutDevice::circulate()
{
    if (handle_)
        handle_->circulate();
}

void WaveOutDevice::checkLead(std::uint32_t leadFrames, std::int32_t periodMs)
{
    if (!handle_ || format_ == nullptr)
        return;
    const std::uint32_t period = handle_->periodFrames();
    const auto writeStep = static_cast<std::uint32_t>(std::max(periodMs, 0) * std::int64_t{format_->samplesPerSec} / 1000);
    // What a period may take: the lead, less what the writer may not have
    // written yet because its last pass was up to one of its periods ago.
    const std::uint32_t room = leadFrames > writeStep ? leadFrames - writeStep : 0;
    if (period == 0 || period <= room || gPeriodReported.exchange(true))
        return;
    const std::uint64_t ringFrames = std::uint64_t{static_cast<std::uint32_t>(pool_.bufferBytes())} *
                                     static_cast<std::uint32_t>(pool_.bufferCount()) / std::max<std::uint16_t>(format_->blockAlign, 1);
    const auto tenths = static_cast<std::uint32_t>((ringFrames * 10 + format_->samplesPerSec / 2) /
                                                   std::max<std::uint32_t>(format_->samplesPerSec, 1));
    ShowMessage(PeriodTooLongText(period, room, leadFrames, periodMs, tenths));
}

bool WaveOutDevice::requeue(WaveHeader* header)
{
    if (header == nullptr || !handle_)
        return false;
    const std::uint32_t flags = header->flags.load();
    if ((flags & WaveHeader::kPrepared) == 0 || (flags & WaveHeader::kDone) == 0)
        return false;
    if (!handle_->unprepare(*header))
        ShowMessage(kUnprepareFailedText);
    header->flags.store(0);
    if (!handle_->prepare(*header))
        ShowMessage(kRequeuePrepareFailedText);
    if (!handle_->write(*header)) {
        ShowMessage(kQueueFailedText);
        return false;
    }
    return true;
}

void WaveOutDevice::restart()
{
    if (handle_)
        handle_->restart();
}

void WaveOutDevice::reset()
{
    if (!pool_.ok() || !handle_)
        return;
    handle_->reset();
    for (std::int32_t i = 0; i < pool_.bufferCount(); ++i) {
        WaveHeader& header = *pool_.header(i);
        const std::uint32_t flags = header.flags.load();
        if ((flags & WaveHeader::kPrepared) != 0 && (flags & WaveHeader::kDone) != 0)
            handle_->unprepare(header);
    }
}

void WaveOutDevice::writeRing(std::uint32_t bufferIndex, std::uint32_t frameOffset, const std::int16_t* samples,
                              std::uint32_t frames)
{
    if (!pool_.ok() || pool_.bufferCount() == 0 || format_ == nullptr || format_->blockAlign == 0)
        return;
    const std::uint32_t blockAlign = format_->blockAlign;
    const std::uint32_t perBuffer = static_cast<std::uint32_t>(pool_.bufferBytes()) / blockAlign;
    const auto count = static_cast<std::uint32_t>(pool_.bufferCount());
    if (perBuffer == 0)
        return;
    bufferIndex = std::min(bufferIndex, count - 1);
    frameOffset = std::min(frameOffset, perBuffer - 1);
    frames = std::min(frames, perBuffer * count);

    const auto* source = reinterpret_cast<const char*>(samples);
    const std::uint32_t room = perBuffer - frameOffset;
    if (frames <= room) {
        StoreSamples(pool_.buffer(static_cast<std::int32_t>(bufferIndex)) + std::size_t{frameOffset} * blockAlign, source,
                    std::size_t{frames} * blockAlign);
        return;
    }
    StoreSamples(pool_.buffer(static_cast<std::int32_t>(bufferIndex)) + std::size_t{frameOffset} * blockAlign, source,
                std::size_t{room} * blockAlign);
    source += std::size_t{room} * blockAlign;
    std::uint32_t remaining = frames - room;
    std::uint32_t b = (bufferIndex + 1) % count;
    while (remaining >= perBuffer) {
        StoreSamples(pool_.buffer(static_cast<std::int32_t>(b)), source, std::size_t{perBuffer} * blockAlign);
        source += std::size_t{perBuffer} * blockAlign;
        remaining -= perBuffer;
        b = (b + 1) % count;
    }
    if (remaining > 0)
        StoreSamples(pool_.buffer(static_cast<std::int32_t>(b)), source, std::size_t{remaining} * blockAlign);
}

std::uint32_t WaveOutDevice::position() const
{
    const WaveOutStream* stream = live_.load(std::memory_order_acquire);
    return stream != nullptr ? stream->position() : 0;
}

const char* WaveOutDevice::takeLossReport()
{
    const WaveOutStream* stream = live_.load(std::memory_order_acquire);
    if (stream == nullptr || !stream->lost() || lossReported_.exchange(true))
        return nullptr;
    return kConnectionLostText;
}

void WaveOutDevice::RearmReports()
{
    gStandInReported.store(false);
    gPeriodReported.store(false);
}

}  // namespace sonrigo
