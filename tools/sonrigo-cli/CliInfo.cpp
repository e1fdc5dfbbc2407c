#include "CliInfo.h"

#include <ostream>

#include "smf/SmfFileInfo.h"

namespace sonrigo {

int RunInfo(const std::string& path, std::ostream& out)
{
    const SmfFileInfo info = InspectSmfFile(path);
    out << "file: " << path << '\n';
    if (!info.opened) {
        out << "result: cannot be read\n";
        return 1;
    }
    out << "size: " << info.size << " bytes" << (info.tooLarge ? " (too large: only this much was read)" : "")
        << '\n';
    out << "macbinary prefix: " << (info.macBinary ? "yes" : "no") << '\n';
    out << "header: " << (info.headerFound ? "MThd" : "missing") << '\n';
    out << "format: " << (info.format >= 0 ? std::to_string(info.format) : "unsupported") << '\n';
    if (info.declaredTracks >= 0) {
        out << "tracks declared: " << info.declaredTracks << '\n';
        out << "division: " << info.division << " ticks per quarter note\n";
    } else {
        out << "tracks declared: (header cut short)\n";
        out << "division: (header cut short)\n";
    }
    out << "result: " << (info.readable() ? "readable Standard MIDI File" : "not a playable MIDI file") << '\n';
    return info.readable() ? 0 : 1;
}

}  // namespace sonrigo
