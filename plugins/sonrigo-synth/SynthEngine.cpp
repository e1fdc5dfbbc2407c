#include "SynthEngine.h"

#include <algorithm>
#include <cmath>

namespace sonrigo::synth {

namespace {

// The limiter holds the output at -1 dBFS: many voices at once are turned
// down instead of clipping when the host converts to 16 bits.
constexpr float kLimiterThreshold = 0.89f;
constexpr float kLimiterReleaseSeconds = 0.15f;
// Below this the limiter's envelope is treated as zero, before it decays into
// denormal numbers that are slow on x86.
constexpr float kLimiterFloor = 1.0e-9f;
constexpr float kGainSmoothingSeconds = 0.005f;
// Closer than -120 dB the smoothed gain takes its target: a fade to zero
// reaches zero instead of crawling through denormal numbers.
constexpr float kGainSnap = 1.0e-6f;
// General MIDI's power-on value of the channel volume controller.
constexpr int kDefaultChannelVolume = 100;
constexpr float kPitchBendSemitones = 2.0f;

// Channel volume and expression follow the General MIDI curve, 40 log10(v/127) dB.
float ControllerGain(int value)
{
    const float v = static_cast<float>(value) / 127.0f;
    return v * v;
}

}  // namespace

SynthEngine::SynthEngine(SynthPrograms& programs) : programs_(programs)
{
    // The first block initialises the rate-dependent state and the controllers.
    resetRequested_.store(true, std::memory_order_relaxed);
}

void SynthEngine::setSampleRate(float sampleRate)
{
    if (sampleRate > 0.0f && std::isfinite(sampleRate))
        requestedSampleRate_.store(sampleRate, std::memory_order_release);
}

bool SynthEngine::queueMidi(int frame, std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    if (eventCount_ >= kMaxEvents)
        return false;
    // Keep the queue ordered by frame, events of one frame in arrival order.
    int i = eventCount_;
    while (i > 0 && events_[static_cast<std::size_t>(i - 1)].frame > frame) {
        events_[static_cast<std::size_t>(i)] = events_[static_cast<std::size_t>(i - 1)];
        --i;
    }
    events_[static_cast<std::size_t>(i)] = Event{frame, status, data1, data2};
    ++eventCount_;
    return true;
}

void SynthEngine::beginBlock()
{
    bool reset = resetRequested_.exchange(false, std::memory_order_acq_rel);
    const float rate = requestedSampleRate_.load(std::memory_order_acquire);
    if (rate != context_.sampleRate || reset) {
        context_.sampleRate = rate;
        gainSmoothing_ = 1.0f - std::exp(-1.0f / (kGainSmoothingSeconds * rate));
        limiterRelease_ = std::exp(-1.0f / (kLimiterReleaseSeconds * rate));
        reset = true;
    }
    if (reset) {
        silenceAll();
        resetControllers(true);
        limiterEnvelope_ = 0.0f;
    }
    context_.brightnessOctaves = BrightnessOctaves(programs_.param(kParamBrightness));
    targetGain_ = VolumeGain(programs_.param(kParamVolume)) * channelVolume_ * expression_;
    if (reset)
        gain_ = targetGain_;
}

void SynthEngine::render(float* const* outputs, int outputCount, int frames)
{
    beginBlock();
    const bool canWrite = outputs != nullptr && outputCount > 0 && outputs[0] != nullptr && frames > 0;
    float* out = canWrite ? outputs[0] : nullptr;
    blockPeak_ = 0.0f;

    int position = 0;
    for (int e = 0; e < eventCount_; ++e) {
        const Event& event = events_[static_cast<std::size_t>(e)];
        const int at = std::clamp(event.frame, 0, std::max(frames - 1, 0));
        if (canWrite && at > position) {
            renderSpan(out, position, at);
            position = at;
        }
        apply(event);
    }
    eventCount_ = 0;
    if (!canWrite) {
        publishMeter();
        return;
    }
    if (frames > position)
        renderSpan(out, position, frames);
    for (int c = 1; c < outputCount; ++c) {
        if (outputs[c] != nullptr)
            std::copy(out, out + frames, outputs[c]);
    }
    publishMeter();
}

void SynthEngine::renderSpan(float* out, int from, int to)
{
    float* span = out + from;
    const int frames = to - from;
    std::fill(span, span + frames, 0.0f);
    for (SynthVoice& voice : voices_)
        voice.render(span, frames, context_);

    for (int i = 0; i < frames; ++i) {
        gain_ += (targetGain_ - gain_) * gainSmoothing_;
        if (std::fabs(targetGain_ - gain_) < kGainSnap)
            gain_ = targetGain_;
        float x = span[i] * gain_;
        const float magnitude = std::fabs(x);
        limiterEnvelope_ = std::max(magnitude, limiterEnvelope_ * limiterRelease_);
        if (limiterEnvelope_ > kLimiterThreshold)
            x *= kLimiterThreshold / limiterEnvelope_;
        else if (limiterEnvelope_ < kLimiterFloor)
            limiterEnvelope_ = 0.0f;
        span[i] = x;
        blockPeak_ = std::max(blockPeak_, std::fabs(x));
    }
}

void SynthEngine::apply(const Event& event)
{
    const int data1 = event.data1 & 0x7F;
    const int data2 = event.data2 & 0x7F;
    switch (event.status & 0xF0) {
    case 0x80:
        noteOff(data1);
        break;
    case 0x90:
        if (data2 == 0)
            noteOff(data1);
        else
            noteOn(data1, data2);
        break;
    case 0xB0:
        controlChange(data1, data2);
        break;
    case 0xC0:
        programs_.select(data1);
        targetGain_ = VolumeGain(programs_.param(kParamVolume)) * channelVolume_ * expression_;
        break;
    case 0xE0: {
        const float bend = static_cast<float>((data2 << 7 | data1) - 8192) / 8192.0f;
        context_.pitchBendRatio = std::exp2(bend * kPitchBendSemitones / 12.0f);
        for (SynthVoice& voice : voices_)
            voice.refreshControls();
        break;
    }
    default:
        break;  // aftertouch and system messages do not change the sound
    }
}

SynthVoice& SynthEngine::voiceFor(int note)
{
    // A repeated note restrikes its own voice, as a piano restrikes its string.
    for (SynthVoice& voice : voices_) {
        if (voice.isActive() && voice.note() == note)
            return voice;
    }
    for (SynthVoice& voice : voices_) {
        if (!voice.isActive())
            return voice;
    }
    // Steal the quietest released voice, else the quietest one the pedal
    // holds, else the oldest held note.
    SynthVoice* best = nullptr;
    for (const SynthVoice::State state : {SynthVoice::State::Released, SynthVoice::State::Sustained}) {
        for (SynthVoice& voice : voices_) {
            if (voice.state() == state && (best == nullptr || voice.level() < best->level()))
                best = &voice;
        }
        if (best != nullptr)
            return *best;
    }
    best = &voices_[0];
    for (SynthVoice& voice : voices_) {
        if (voice.age() < best->age())
            best = &voice;
    }
    return *best;
}

float SynthEngine::releaseMs() const
{
    return ReleaseMs(programs_.param(kParamRelease));
}

void SynthEngine::noteOn(int note, int velocity)
{
    voiceFor(note).start(programs_.currentPatch(), note, velocity, AttackMs(programs_.param(kParamAttack)),
                         ++noteCounter_, context_);
}

void SynthEngine::noteOff(int note)
{
    for (SynthVoice& voice : voices_) {
        if (voice.state() != SynthVoice::State::Held || voice.note() != note)
            continue;
        if (sustainPedal_)
            voice.sustain();
        else
            voice.release(releaseMs(), context_.sampleRate);
    }
}

void SynthEngine::controlChange(int controller, int value)
{
    switch (controller) {
    case 7:
        channelVolume_ = ControllerGain(value);
        break;
    case 11:
        expression_ = ControllerGain(value);
        break;
    case 64:
        sustainPedal_ = value >= 64;
        if (!sustainPedal_) {
            for (SynthVoice& voice : voices_) {
                if (voice.state() == SynthVoice::State::Sustained)
                    voice.release(releaseMs(), context_.sampleRate);
            }
        }
        break;
    case 120:
        silenceAll();
        break;
    case 121:
        resetControllers(false);
        break;
    case 123:
    case 124:
    case 125:
    case 126:
    case 127:
        // All notes off, also implied by the mode messages. A player sends it
        // on stop and wants silence, so the pedal does not hold the notes.
        releaseAll();
        break;
    default:
        break;
    }
    targetGain_ = VolumeGain(programs_.param(kParamVolume)) * channelVolume_ * expression_;
}

void SynthEngine::releaseAll()
{
    for (SynthVoice& voice : voices_) {
        if (voice.state() == SynthVoice::State::Held || voice.state() == SynthVoice::State::Sustained)
            voice.release(releaseMs(), context_.sampleRate);
    }
}

void SynthEngine::silenceAll()
{
    for (SynthVoice& voice : voices_)
        voice.silence();
}

void SynthEngine::resetControllers(bool withVolume)
{
    context_.pitchBendRatio = 1.0f;
    for (SynthVoice& voice : voices_)
        voice.refreshControls();
    expression_ = 1.0f;
    controlChange(64, 0);
    // Reset All Controllers leaves the channel volume alone (MIDI RP-015).
    if (withVolume)
        channelVolume_ = ControllerGain(kDefaultChannelVolume);
}

void SynthEngine::publishMeter()
{
    std::uint64_t keys[2] = {0, 0};
    int sounding = 0;
    for (const SynthVoice& voice : voices_) {
        if (!voice.isActive())
            continue;
        ++sounding;
        if (voice.state() == SynthVoice::State::Held || voice.state() == SynthVoice::State::Sustained) {
            const int note = voice.note();
            keys[note / 64] |= std::uint64_t{1} << (note % 64);
        }
    }
    meter_.peak.store(blockPeak_, std::memory_order_relaxed);
    meter_.voices.store(sounding, std::memory_order_relaxed);
    meter_.keys[0].store(keys[0], std::memory_order_relaxed);
    meter_.keys[1].store(keys[1], std::memory_order_relaxed);
}

}  // namespace sonrigo::synth
