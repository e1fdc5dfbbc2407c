#include "SynthPatch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sonrigo::synth {

namespace {

SynthPatch SoftPiano()
{
    SynthPatch p;
    p.name = "Soft Piano";
    p.fmLevel = 1.0f;
    p.fmRatio = 1.0f;
    p.fmIndex = 1.6f;
    p.fmIndexFloor = 0.15f;
    p.fmIndexDecay = 0.6f;
    p.subLevel = 0.15f;
    p.cutoffHz = 3500.0f;
    p.velocityToCutoff = 1.5f;
    p.attackMs = 2.0f;
    p.decay = 1.8f;
    p.sustain = 0.0f;
    p.releaseMs = 350.0f;
    p.trim = 0.95f;
    return p;
}

SynthPatch WarmPad()
{
    SynthPatch p;
    p.name = "Warm Pad";
    p.sawLevel = 0.5f;
    p.sawDetune = 7.0f;
    p.subLevel = 0.35f;
    p.cutoffHz = 1100.0f;
    p.keyTrack = 0.4f;
    p.velocityToCutoff = 0.7f;
    p.attackMs = 450.0f;
    p.decay = 2.0f;
    p.sustain = 0.85f;
    p.releaseMs = 1200.0f;
    p.vibratoCents = 4.0f;
    p.trim = 1.25f;
    return p;
}

SynthPatch Pluck()
{
    SynthPatch p;
    p.name = "Pluck";
    p.sawLevel = 0.6f;
    p.squareLevel = 0.25f;
    p.cutoffHz = 450.0f;
    p.keyTrack = 0.8f;
    p.filterEnvOctaves = 4.0f;
    p.filterDecay = 0.12f;
    p.velocityToCutoff = 1.2f;
    p.attackMs = 1.0f;
    p.decay = 0.45f;
    p.sustain = 0.0f;
    p.releaseMs = 150.0f;
    p.trim = 1.6f;
    return p;
}

SynthPatch Organ()
{
    SynthPatch p;
    p.name = "Organ";
    p.partials = {1.0f, 0.6f, 0.35f, 0.25f};
    p.cutoffHz = 9000.0f;
    p.velocityToCutoff = 0.0f;
    p.attackMs = 6.0f;
    p.decay = 1.0f;
    p.sustain = 1.0f;
    p.releaseMs = 45.0f;
    p.vibratoCents = 6.0f;
    p.trim = 0.55f;
    return p;
}

SynthPatch Bell()
{
    SynthPatch p;
    p.name = "Bell";
    p.fmLevel = 1.0f;
    p.fmRatio = 3.5f;
    p.fmIndex = 2.2f;
    p.fmIndexFloor = 0.3f;
    p.fmIndexDecay = 1.2f;
    p.cutoffHz = 9000.0f;
    p.velocityToCutoff = 1.0f;
    p.attackMs = 1.0f;
    p.decay = 2.8f;
    p.sustain = 0.0f;
    p.releaseMs = 1500.0f;
    p.trim = 0.9f;
    return p;
}

SynthPatch Bass()
{
    SynthPatch p;
    p.name = "Bass";
    p.sawLevel = 0.55f;
    p.subLevel = 0.6f;
    p.cutoffHz = 280.0f;
    p.keyTrack = 0.6f;
    p.resonance = 1.2f;
    p.filterEnvOctaves = 2.5f;
    p.filterDecay = 0.25f;
    p.velocityToCutoff = 1.0f;
    p.attackMs = 3.0f;
    p.decay = 0.8f;
    p.sustain = 0.6f;
    p.releaseMs = 90.0f;
    p.trim = 1.0f;
    return p;
}

SynthPatch Strings()
{
    SynthPatch p;
    p.name = "Strings";
    p.sawLevel = 0.6f;
    p.sawDetune = 10.0f;
    p.cutoffHz = 2600.0f;
    p.keyTrack = 0.7f;
    p.velocityToCutoff = 0.8f;
    p.attackMs = 250.0f;
    p.decay = 1.5f;
    p.sustain = 0.9f;
    p.releaseMs = 600.0f;
    p.vibratoCents = 8.0f;
    p.trim = 1.45f;
    return p;
}

SynthPatch Lead()
{
    SynthPatch p;
    p.name = "Lead";
    p.sawLevel = 0.35f;
    p.squareLevel = 0.45f;
    p.cutoffHz = 2200.0f;
    p.keyTrack = 0.8f;
    p.resonance = 1.4f;
    p.filterEnvOctaves = 1.0f;
    p.filterDecay = 0.4f;
    p.velocityToCutoff = 1.0f;
    p.attackMs = 8.0f;
    p.decay = 0.6f;
    p.sustain = 0.8f;
    p.releaseMs = 200.0f;
    p.vibratoCents = 15.0f;
    p.trim = 0.9f;
    return p;
}

// The scales the user parameters span.
constexpr float kVolumeFloorDb = -60.0f;
constexpr float kVolumeSpanDb = 66.0f;
constexpr float kAttackMinMs = 1.0f;
constexpr float kAttackSpanMs = 4999.0f;
constexpr float kReleaseMinMs = 5.0f;
constexpr float kReleaseSpanMs = 4995.0f;
constexpr float kBrightnessSpanOctaves = 6.0f;

}  // namespace

const std::array<SynthPatch, kPatchCount>& FactoryPatches()
{
    static const std::array<SynthPatch, kPatchCount> patches = {SoftPiano(), WarmPad(), Pluck(),   Organ(),
                                                                Bell(),      Bass(),    Strings(), Lead()};
    return patches;
}

float VolumeGain(float normalised)
{
    if (normalised <= 0.0f)
        return 0.0f;
    return std::pow(10.0f, (kVolumeFloorDb + kVolumeSpanDb * std::min(normalised, 1.0f)) / 20.0f);
}

float AttackMs(float normalised)
{
    const float v = std::clamp(normalised, 0.0f, 1.0f);
    return kAttackMinMs + kAttackSpanMs * v * v * v;
}

float ReleaseMs(float normalised)
{
    const float v = std::clamp(normalised, 0.0f, 1.0f);
    return kReleaseMinMs + kReleaseSpanMs * v * v * v;
}

float BrightnessOctaves(float normalised)
{
    return (std::clamp(normalised, 0.0f, 1.0f) - 0.5f) * kBrightnessSpanOctaves;
}

float NormalisedAttack(float milliseconds)
{
    return std::cbrt(std::clamp((milliseconds - kAttackMinMs) / kAttackSpanMs, 0.0f, 1.0f));
}

float NormalisedRelease(float milliseconds)
{
    return std::cbrt(std::clamp((milliseconds - kReleaseMinMs) / kReleaseSpanMs, 0.0f, 1.0f));
}

const char* ParamName(int index)
{
    switch (index) {
    case kParamVolume:
        return "Volume";
    case kParamAttack:
        return "Attack";
    case kParamRelease:
        return "Release";
    case kParamBrightness:
        return "Bright";
    default:
        return "";
    }
}

const char* ParamLabel(int index)
{
    switch (index) {
    case kParamVolume:
        return "dB";
    case kParamAttack:
    case kParamRelease:
        return "ms";
    case kParamBrightness:
        return "%";
    default:
        return "";
    }
}

void FormatParamDisplay(int index, float normalised, char* out, std::size_t size)
{
    if (out == nullptr || size == 0)
        return;
    switch (index) {
    case kParamVolume: {
        const float gain = VolumeGain(normalised);
        if (gain <= 0.0f)
            std::snprintf(out, size, "-inf");
        else
            std::snprintf(out, size, "%.1f", 20.0 * std::log10(gain));
        break;
    }
    case kParamAttack:
        std::snprintf(out, size, "%.0f", AttackMs(normalised));
        break;
    case kParamRelease:
        std::snprintf(out, size, "%.0f", ReleaseMs(normalised));
        break;
    case kParamBrightness:
        std::snprintf(out, size, "%.0f", 100.0 * std::clamp(normalised, 0.0f, 1.0f));
        break;
    default:
        out[0] = '\0';
        break;
    }
}

}  // namespace sonrigo::synth
