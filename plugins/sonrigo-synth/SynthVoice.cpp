#include "SynthVoice.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sonrigo::synth {

namespace {

// Modulation is recomputed every this many samples: 0.36 ms at 44.1 kHz, far
// quicker than any envelope or vibrato the patches use, and it keeps tan()
// and exp2() out of the per-sample loop.
constexpr int kControlInterval = 16;
// A voice whose envelope falls below -80 dB is inaudible under any other
// sound and is freed.
constexpr float kSilentLevel = 1.0e-4f;
// The release time is the time to fall by 60 dB.
constexpr float kReleaseDepth = 6.907755f;  // ln(1000)
// Peak of one voice at full velocity: -12 dBFS, so that a few notes together
// stay clear of full scale before the engine's limiter has anything to do.
constexpr float kVoiceHeadroom = 0.25f;
// Oscillator content above this fraction of the sample rate is faded out to
// keep it away from the Nyquist frequency, where it would fold back.
constexpr float kHighestPartial = 0.45f;
constexpr float kVibratoHz = 5.5f;
constexpr float kVibratoFadeInSeconds = 0.5f;

constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;

float Wrap(float phase)
{
    return phase >= 1.0f ? phase - 1.0f : phase;
}

// The polynomial band-limited step correction for a discontinuity of height
// 2 at phase 0 (Välimäki's PolyBLEP).
float PolyBlep(float phase, float step)
{
    if (phase < step) {
        const float t = phase / step;
        return t + t - t * t - 1.0f;
    }
    if (phase > 1.0f - step) {
        const float t = (phase - 1.0f) / step;
        return t * t + t + t + 1.0f;
    }
    return 0.0f;
}

float Saw(float phase, float step)
{
    return 2.0f * phase - 1.0f - PolyBlep(phase, step);
}

float Square(float phase, float step)
{
    const float naive = phase < 0.5f ? 1.0f : -1.0f;
    return naive + PolyBlep(phase, step) - PolyBlep(Wrap(phase + 0.5f), step);
}

float NoteHz(int note)
{
    return 440.0f * std::exp2((static_cast<float>(note) - 69.0f) / 12.0f);
}

float PerControlTick(float seconds, float sampleRate)
{
    return std::exp(-static_cast<float>(kControlInterval) / (std::max(seconds, 1.0e-3f) * sampleRate));
}

}  // namespace

void SynthVoice::start(const SynthPatch& patch, int note, int velocity, float attackMs, std::uint64_t age,
                       const VoiceContext& context)
{
    const bool sounding = isActive();
    patch_ = &patch;
    state_ = State::Held;
    stage_ = Stage::Attack;
    note_ = note;
    age_ = age;
    velocity_ = static_cast<float>(std::clamp(velocity, 1, 127)) / 127.0f;
    // The square law General MIDI suggests: velocity 64 sounds 12 dB below 127.
    velocityGain_ = velocity_ * velocity_;
    samplesPlayed_ = 0;
    controlCountdown_ = 0;

    if (!sounding) {
        level_ = 0.0f;
        carrierPhase_ = modulatorPhase_ = subPhase_ = 0.0f;
        // Detuned saws start apart so that they do not begin in phase.
        sawPhase_[0] = 0.0f;
        sawPhase_[1] = 0.5f;
        vibratoPhase_ = 0.0f;
        filterIc1_ = filterIc2_ = 0.0f;
    }
    const float attackSamples = std::max(1.0f, attackMs * 0.001f * context.sampleRate);
    attackStep_ = 1.0f / attackSamples;
    decayCoef_ = std::exp(-1.0f / (std::max(patch.decay, 1.0e-3f) * context.sampleRate));
    fmIndexEnv_ = 1.0f;
    fmIndexCoef_ = PerControlTick(patch.fmIndexDecay, context.sampleRate);
    filterEnv_ = 1.0f;
    filterEnvCoef_ = PerControlTick(patch.filterDecay, context.sampleRate);
}

void SynthVoice::release(float releaseMs, float sampleRate)
{
    if (state_ == State::Idle)
        return;
    state_ = State::Released;
    stage_ = Stage::Release;
    const float releaseSamples = std::max(1.0f, releaseMs * 0.001f * sampleRate);
    releaseCoef_ = std::exp(-kReleaseDepth / releaseSamples);
}

void SynthVoice::silence()
{
    state_ = State::Idle;
    level_ = 0.0f;
}

void SynthVoice::updateControls(const VoiceContext& context)
{
    const SynthPatch& p = *patch_;
    const float nyquistGuard = kHighestPartial * context.sampleRate;

    float vibrato = 1.0f;
    if (p.vibratoCents > 0.0f) {
        const float fadeIn =
            std::min(1.0f, static_cast<float>(samplesPlayed_) / (kVibratoFadeInSeconds * context.sampleRate));
        vibrato = std::exp2(p.vibratoCents * fadeIn * std::sin(kTwoPi * vibratoPhase_) / 1200.0f);
        vibratoPhase_ += kVibratoHz * kControlInterval / context.sampleRate;
        vibratoPhase_ -= std::floor(vibratoPhase_);
    }
    const float hz = NoteHz(note_) * context.pitchBendRatio * vibrato;
    carrierStep_ = std::min(hz / context.sampleRate, 0.5f);
    modulatorStep_ = std::min(hz * p.fmRatio / context.sampleRate, 0.5f);
    subStep_ = carrierStep_ * 0.5f;
    const float detune = std::exp2(p.sawDetune / 1200.0f);
    sawStep_[0] = std::min(carrierStep_ * detune, 0.5f);
    sawStep_[1] = std::min(carrierStep_ / detune, 0.5f);

    // Keep the FM spectrum (Carson's bandwidth: carrier plus index+1 times the
    // modulator) under the guard frequency.
    const float index = p.fmIndexFloor + (p.fmIndex - p.fmIndexFloor) * fmIndexEnv_;
    const float maxIndex = std::max(0.0f, (nyquistGuard - hz) / (hz * p.fmRatio) - 1.0f);
    fmIndex_ = std::min(index * (0.5f + 0.5f * velocity_), maxIndex);
    fmIndexEnv_ *= fmIndexCoef_;

    for (int k = 0; k < 4; ++k) {
        const float partialHz = hz * static_cast<float>(k + 1);
        partialGain_[k] = p.partials[static_cast<std::size_t>(k)] *
                          std::clamp((nyquistGuard - partialHz) / (0.05f * context.sampleRate), 0.0f, 1.0f);
    }

    const float octaves = p.keyTrack * (static_cast<float>(note_) - 60.0f) / 12.0f + context.brightnessOctaves +
                          p.velocityToCutoff * (velocity_ - 1.0f) + p.filterEnvOctaves * filterEnv_;
    filterEnv_ *= filterEnvCoef_;
    const float cutoff = std::clamp(p.cutoffHz * std::exp2(octaves), 20.0f, nyquistGuard);
    const float g = std::tan(std::numbers::pi_v<float> * cutoff / context.sampleRate);
    const float k = 1.0f / std::max(p.resonance, 0.5f);
    filterA1_ = 1.0f / (1.0f + g * (g + k));
    filterA2_ = g * filterA1_;
    filterA3_ = g * filterA2_;
}

float SynthVoice::oscillators()
{
    const SynthPatch& p = *patch_;
    float sum = 0.0f;
    if (p.fmLevel > 0.0f)
        sum += p.fmLevel * std::sin(kTwoPi * carrierPhase_ + fmIndex_ * std::sin(kTwoPi * modulatorPhase_));
    for (int k = 0; k < 4; ++k) {
        if (partialGain_[k] > 0.0f)
            sum += partialGain_[k] * std::sin(kTwoPi * carrierPhase_ * static_cast<float>(k + 1));
    }
    if (p.sawLevel > 0.0f)
        sum += 0.5f * p.sawLevel * (Saw(sawPhase_[0], sawStep_[0]) + Saw(sawPhase_[1], sawStep_[1]));
    if (p.squareLevel > 0.0f)
        sum += p.squareLevel * Square(carrierPhase_, carrierStep_);
    if (p.subLevel > 0.0f)
        sum += p.subLevel * std::sin(kTwoPi * subPhase_);

    carrierPhase_ = Wrap(carrierPhase_ + carrierStep_);
    modulatorPhase_ = Wrap(modulatorPhase_ + modulatorStep_);
    sawPhase_[0] = Wrap(sawPhase_[0] + sawStep_[0]);
    sawPhase_[1] = Wrap(sawPhase_[1] + sawStep_[1]);
    subPhase_ = Wrap(subPhase_ + subStep_);
    return sum;
}

bool SynthVoice::advanceEnvelope()
{
    switch (stage_) {
    case Stage::Attack:
        level_ += attackStep_;
        if (level_ >= 1.0f) {
            level_ = 1.0f;
            stage_ = Stage::Decay;
        }
        return true;
    case Stage::Decay:
        level_ = patch_->sustain + (level_ - patch_->sustain) * decayCoef_;
        return patch_->sustain > 0.0f || level_ > kSilentLevel;
    case Stage::Release:
        level_ *= releaseCoef_;
        return level_ > kSilentLevel;
    }
    return false;
}

void SynthVoice::render(float* out, int frames, const VoiceContext& context)
{
    if (state_ == State::Idle)
        return;
    const float gain = kVoiceHeadroom * patch_->trim * velocityGain_;
    for (int i = 0; i < frames; ++i) {
        if (controlCountdown_ <= 0) {
            updateControls(context);
            controlCountdown_ = kControlInterval;
        }
        --controlCountdown_;

        const float v0 = oscillators();
        const float v3 = v0 - filterIc2_;
        const float v1 = filterA1_ * filterIc1_ + filterA2_ * v3;
        const float v2 = filterIc2_ + filterA2_ * filterIc1_ + filterA3_ * v3;
        filterIc1_ = 2.0f * v1 - filterIc1_;
        filterIc2_ = 2.0f * v2 - filterIc2_;

        const bool alive = advanceEnvelope();
        out[i] += v2 * level_ * gain;
        ++samplesPlayed_;
        if (!alive) {
            silence();
            return;
        }
    }
}

}  // namespace sonrigo::synth
