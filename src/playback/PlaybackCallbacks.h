#pragma once

#include <cstdint>
#include <functional>

namespace sonrigo {

class MidiEvent;

// Called on the timer thread for every record, in list order, before it is
// sent: (index in the track, tick position, the record). Setting the
// record's kind to Removed keeps it from the MIDI output. Must return quickly
// and never wait for the user-interface thread.
using PerEventCallback = std::function<void(std::int32_t index, std::int32_t tick, MidiEvent* record)>;
// Called without arguments when a song has ended (on the timer thread at an
// end tick, on the playback worker at the end of the song); the play
// controller calls it at most once per Play.
using EndCallback = std::function<void()>;

}  // namespace sonrigo
