#include "vsthost/MonoMix.h"

#include <algorithm>
#include <cmath>

#include "vsthost/VstPlugin.h"

namespace sonrigo {

bool MonoMix::addPlugin(const VstPlugin& plugin, double* totals, std::size_t frames)
{
    const std::int32_t outputs = plugin.numOutputs();
    float* const* channels = plugin.outputs();
    if (outputs <= 0 || channels == nullptr || plugin.muted())
        return true;
    frames = std::min(frames, static_cast<std::size_t>(std::max(plugin.blockSize(), 0)));
    if (!plugin.outputsSound(static_cast<std::int32_t>(frames)))
        return false;
    for (std::size_t i = 0; i < frames; ++i) {
        double sum = 0.0;
        for (std::int32_t c = 0; c < outputs; ++c)
            sum += channels[c][i];
        totals[i] += sum / outputs;
    }
    return true;
}

double MonoMix::toSamples(const double* totals, std::int16_t* samples, std::size_t frames, double gain)
{
    double peak = 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double total = totals[i] * gain;
        peak = std::max(peak, std::fabs(total));
        samples[i] = static_cast<std::int16_t>(std::clamp(total, -1.0, 1.0) * 32767.0);
    }
    return peak;
}

}  // namespace sonrigo
