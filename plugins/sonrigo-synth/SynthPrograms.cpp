#include "SynthPrograms.h"

#include <algorithm>
#include <cstring>

namespace sonrigo::synth {

SynthPrograms::SynthPrograms()
{
    const auto& patches = FactoryPatches();
    for (std::size_t i = 0; i < kPatchCount; ++i) {
        params_[i][kParamVolume].store(kDefaultVolume);
        params_[i][kParamAttack].store(NormalisedAttack(patches[i].attackMs));
        params_[i][kParamRelease].store(NormalisedRelease(patches[i].releaseMs));
        params_[i][kParamBrightness].store(kDefaultBrightness);
        rename(static_cast<int>(i), patches[i].name);
    }
}

void SynthPrograms::select(int program)
{
    if (program >= 0 && program < count())
        current_.store(program, std::memory_order_relaxed);
}

const SynthPatch& SynthPrograms::currentPatch() const
{
    return FactoryPatches()[static_cast<std::size_t>(current())];
}

float SynthPrograms::param(int index) const
{
    if (index < 0 || index >= kParamCount)
        return 0.0f;
    return params_[static_cast<std::size_t>(current())][static_cast<std::size_t>(index)].load(
        std::memory_order_relaxed);
}

void SynthPrograms::setParam(int index, float value)
{
    if (index < 0 || index >= kParamCount)
        return;
    params_[static_cast<std::size_t>(current())][static_cast<std::size_t>(index)].store(
        std::clamp(value, 0.0f, 1.0f), std::memory_order_relaxed);
}

std::string SynthPrograms::name(int program) const
{
    if (program < 0 || program >= count())
        return {};
    std::lock_guard lock(nameMutex_);
    return names_[static_cast<std::size_t>(program)].data();
}

void SynthPrograms::rename(int program, const char* name)
{
    if (program < 0 || program >= count() || name == nullptr)
        return;
    auto& dest = names_[static_cast<std::size_t>(program)];
    std::lock_guard lock(nameMutex_);
    const std::size_t length = ::strnlen(name, kMaxNameLength);
    std::memcpy(dest.data(), name, length);
    dest[length] = '\0';
}

}  // namespace sonrigo::synth
