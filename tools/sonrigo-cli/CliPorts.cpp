#include "CliPorts.h"

#include <ostream>

#include "platform/RtMidiOutputSystem.h"

namespace sonrigo {

int RunPorts(MidiOutputSystem& system, std::ostream& out)
{
    const std::vector<std::string> names = system.portNames();
    if (names.empty()) {
        out << "no MIDI output ports\n";
        return 0;
    }
    const int chosen = ChooseDefaultPort(names, {});
    for (std::size_t i = 0; i < names.size(); ++i)
        out << i << ": " << names[i] << (static_cast<int>(i) == chosen ? " (default)" : "") << '\n';
    return 0;
}

}  // namespace sonrigo
