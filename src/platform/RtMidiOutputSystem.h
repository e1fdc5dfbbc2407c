#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MidiOutput.h"

namespace sonrigo {

// The system's MIDI outputs through RtMidi: the ALSA sequencer's ports first,
// then JACK's MIDI inputs. An API that cannot start here (ALSA without
// /dev/snd/seq, JACK without a running server) contributes no port and says
// nothing: RtMidi's and libjack's own error printing is silenced.
//
// Every call enumerates afresh, so device numbers are those of the moment;
// portNames() and open() may be called from any thread, but are slow (they
// talk to the sound servers) and belong on the playback thread, never on the
// timer thread. The ports it opens send on the timer thread.
class RtMidiOutputSystem final : public MidiOutputSystem {
public:
    std::vector<std::string> portNames() override;
    // deviceId -1: the preferred port if one is set (null when none matches),
    // else the first port that is not a "Midi Through" port, else port 0.
    std::unique_ptr<MidiOutputPort> open(int deviceId) override;
    int defaultPort() override;

    // Makes open(-1) choose the first port whose name contains `nameContains`
    // (the command line's --port). Empty: back to the default choice.
    void setPreferredPort(std::string nameContains);

private:
    std::mutex mutex_;
    std::string preferred_;
};

// The port open(-1) picks among `names`, as described above; -1 for none.
int ChooseDefaultPort(const std::vector<std::string>& names, std::string_view preferred);

}  // namespace sonrigo
