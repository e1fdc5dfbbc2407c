#pragma once

#include <cstddef>
#include <cstdint>

namespace sonrigo {

class VstPlugin;

// How the player mixes its instruments into 16-bit mono: each plug-in's
// output channels averaged, the plug-ins summed, the gain applied, the sum
// clipped to full scale and truncated toward zero to at most +-32767 (-32768
// never occurs). Everything that renders instruments mixes through here, so
// that an offline render sounds as the player does.
class MonoMix {
public:
    // Adds the average of the plug-in's output channels, as its last process
    // left them, to totals[0 .. frames); nothing for a plug-in without
    // outputs or muted. A block with a sample that is not finite or beyond
    // VstPlugin::kMostSample is not added at all (false): one instrument's
    // garbage silences that instrument, never the mix.
    static bool addPlugin(const VstPlugin& plugin, double* totals, std::size_t frames);
    // Converts totals[0 .. frames) to samples; returns the peak, taken after
    // the gain and before clipping.
    static double toSamples(const double* totals, std::int16_t* samples, std::size_t frames, double gain);
};

}  // namespace sonrigo
