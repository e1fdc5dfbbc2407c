#pragma once

#include <array>
#include <cstddef>

namespace sonrigo::synth {

// The recipe of one factory program: which oscillators sound and how loud, the
// filter and the envelopes. Constant data shared by every instance; the four
// user parameters (volume, attack, release, brightness) start from the
// program's values and are then the user's.
struct SynthPatch {
    const char* name = "";  // at most 24 characters

    // Two-operator FM: a sine carrier at the note, phase-modulated by a sine at
    // fmRatio times the note. The index falls from fmIndex to fmIndexFloor with
    // the time constant fmIndexDecay (seconds), as struck instruments lose
    // their upper partials.
    float fmLevel = 0.0f;
    float fmRatio = 1.0f;
    float fmIndex = 0.0f;
    float fmIndexFloor = 0.0f;
    float fmIndexDecay = 1.0f;

    // Sine partials 1 to 4 (drawbar organ).
    std::array<float, 4> partials{};
    // Two band-limited saws detuned by +-sawDetune cents.
    float sawLevel = 0.0f;
    float sawDetune = 0.0f;
    // A band-limited square and a sine an octave down.
    float squareLevel = 0.0f;
    float subLevel = 0.0f;

    // Low-pass filter: cutoff at middle C, how far it follows the key (1 =
    // fully), resonance as Q, and an envelope that opens it by filterEnvOctaves
    // at the note's start and falls back with the time constant filterDecay.
    float cutoffHz = 8000.0f;
    float keyTrack = 0.5f;
    float resonance = 0.707f;
    float filterEnvOctaves = 0.0f;
    float filterDecay = 0.3f;
    // Octaves the cutoff rises from velocity 1 to velocity 127.
    float velocityToCutoff = 1.0f;

    // Amplitude envelope: attack and release come from the user parameters
    // (defaults below); decay is the time constant (seconds) towards sustain.
    float attackMs = 5.0f;
    float decay = 1.0f;
    float sustain = 1.0f;
    float releaseMs = 200.0f;

    float vibratoCents = 0.0f;  // depth at 5.5 Hz, faded in over the first half second
    float trim = 1.0f;          // evens out the programs' loudness
};

inline constexpr std::size_t kPatchCount = 8;

const std::array<SynthPatch, kPatchCount>& FactoryPatches();

// The user parameters, each a normalised 0..1 value as the interface wants.
enum ParamIndex : int { kParamVolume = 0, kParamAttack, kParamRelease, kParamBrightness, kParamCount };

// Mappings between normalised values and what they mean. Attack and release
// use a cubic curve so that short times, where the ear is most sensitive, get
// most of the range.
float VolumeGain(float normalised);            // linear gain, 0 at the bottom
float AttackMs(float normalised);              // 1 ms .. 5 s
float ReleaseMs(float normalised);             // 5 ms .. 5 s
float BrightnessOctaves(float normalised);     // -3 .. +3 octaves of cutoff
float NormalisedAttack(float milliseconds);
float NormalisedRelease(float milliseconds);
// What the host shows of a parameter: its name (at most 8 characters), its
// unit and its value in that unit, written into out (size bytes).
const char* ParamName(int index);
const char* ParamLabel(int index);
void FormatParamDisplay(int index, float normalised, char* out, std::size_t size);

inline constexpr float kDefaultVolume = 60.0f / 66.0f;  // 0 dB on the -60..+6 dB scale
inline constexpr float kDefaultBrightness = 0.5f;

}  // namespace sonrigo::synth
