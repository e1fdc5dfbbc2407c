#pragma once

#include <cstdint>
#include <string>

namespace sonrigo {

// What a look at a MIDI file's header tells, without reading its tracks.
struct SmfFileInfo {
    bool opened = false;          // the file could be read
    std::int32_t size = 0;        // bytes read (capped at the buffer capacity)
    bool tooLarge = false;        // the file fills the whole buffer or more
    bool macBinary = false;       // a 128-byte MacBinary prefix was found
    bool headerFound = false;     // "MThd" at the start (after the prefix)
    int format = -1;              // the loader's detection: 0, 1 or -1
    std::int32_t declaredTracks = -1;  // -1 when the header is cut short
    std::int32_t division = -1;        // ticks per quarter note, unsigned 16-bit; -1 when cut short

    // A file the player can load: read whole, a header, format 0 or 1.
    bool readable() const { return opened && !tooLarge && headerFound && format >= 0 && declaredTracks >= 0; }
};

// Reads the file whole, as the player does, and examines its header. Every
// message the reading shows goes to the installed message sink.
SmfFileInfo InspectSmfFile(const std::string& path);

}  // namespace sonrigo
