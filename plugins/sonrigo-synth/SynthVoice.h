#pragma once

#include <cstdint>

#include "SynthPatch.h"

namespace sonrigo::synth {

// What every voice needs to know about the channel while it renders.
struct VoiceContext {
    float sampleRate = 44100.0f;
    float pitchBendRatio = 1.0f;     // frequency factor of the channel's pitch bend
    float brightnessOctaves = 0.0f;  // the brightness parameter, as a cutoff shift
};

// One sounding note: the patch's oscillators, a state-variable low-pass and an
// ADSR. Plain state, no allocation; owned by SynthEngine and used on the
// render thread only.
class SynthVoice {
public:
    enum class State { Idle, Held, Sustained, Released };

    // Starts a note. A voice that is still sounding (a repeated note or a
    // stolen voice) keeps its oscillator phases and filter state and rises
    // from its present level, so that the change makes no click.
    void start(const SynthPatch& patch, int note, int velocity, float attackMs, std::uint64_t age,
               const VoiceContext& context);
    void release(float releaseMs, float sampleRate);
    void sustain() { state_ = State::Sustained; }
    void silence();
    // Recompute pitch and filter at the next sample instead of at the next
    // control tick (after a pitch bend).
    void refreshControls() { controlCountdown_ = 0; }

    // Adds frames samples of the voice to out.
    void render(float* out, int frames, const VoiceContext& context);

    State state() const { return state_; }
    bool isActive() const { return state_ != State::Idle; }
    int note() const { return note_; }
    std::uint64_t age() const { return age_; }
    float level() const { return level_; }

private:
    enum class Stage { Attack, Decay, Release };

    void updateControls(const VoiceContext& context);
    float oscillators();
    bool advanceEnvelope();  // false when the voice has died away

    const SynthPatch* patch_ = nullptr;
    State state_ = State::Idle;
    Stage stage_ = Stage::Attack;
    int note_ = 0;
    std::uint64_t age_ = 0;
    float velocity_ = 0.0f;     // 0..1
    float velocityGain_ = 0.0f;
    std::uint32_t samplesPlayed_ = 0;
    int controlCountdown_ = 0;

    // Amplitude envelope.
    float level_ = 0.0f;
    float attackStep_ = 0.0f;
    float decayCoef_ = 0.0f;
    float releaseCoef_ = 0.0f;

    // Modulation, updated at control rate.
    float fmIndexEnv_ = 0.0f;   // 1 at the start, decaying to 0
    float fmIndexCoef_ = 0.0f;
    float filterEnv_ = 0.0f;
    float filterEnvCoef_ = 0.0f;
    float vibratoPhase_ = 0.0f;
    float fmIndex_ = 0.0f;
    float partialGain_[4] = {};

    // Oscillator phases in cycles, 0..1, and their steps per sample.
    float carrierPhase_ = 0.0f;
    float modulatorPhase_ = 0.0f;
    float sawPhase_[2] = {};
    float subPhase_ = 0.0f;
    float carrierStep_ = 0.0f;
    float modulatorStep_ = 0.0f;
    float sawStep_[2] = {};
    float subStep_ = 0.0f;

    // Topology-preserving state-variable low-pass (stable under fast cutoff
    // changes, which the filter envelope makes).
    float filterA1_ = 0.0f;
    float filterA2_ = 0.0f;
    float filterA3_ = 0.0f;
    float filterIc1_ = 0.0f;
    float filterIc2_ = 0.0f;
};

}  // namespace sonrigo::synth
