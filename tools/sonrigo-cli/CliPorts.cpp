#include "CliPorts.h"

#include <ostream>

#include "platform/FluidSoftSynth.h"

namespace sonrigo {

int RunPorts(MidiOutputSystem& system, std::ostream& out, const std::string& soundFont)
{
    const std::vector<std::string> names = system.portNames();
    if (names.empty())
        out << "no MIDI output ports\n";
    const int chosen = names.empty() ? -1 : system.defaultPort();
    for (std::size_t i = 0; i < names.size(); ++i)
        out << i << ": " << names[i] << (static_cast<int>(i) == chosen ? " (default)" : "") << '\n';
    out << "built-in: " << FluidSoftSynth::kName;
    if (soundFont.empty())
        out << ", no SoundFont installed (fluid-soundfont-gm)\n";
    else
        out << " with " << soundFont << (names.empty() ? " (default)" : "") << '\n';
    return 0;
}

}  // namespace sonrigo
