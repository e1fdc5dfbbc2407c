#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/WaveOut.h"

namespace sonrigo {

// The system's wave outputs through RtAudio, in this order: JACK (only when
// its server runs for this user), then PulseAudio, then ALSA. An API that
// cannot start here contributes no device and says nothing: RtAudio's,
// libjack's and alsa-lib's own printing is silenced.
//
// Device numbers:
//   -1     the default output device of the first API above that has any
//          output device (JACK's "system", PulseAudio's default sink, ALSA's
//          "default"), or that API's first output device when its default
//          has no output channel; an API whose default device does not run
//          at 44100 Hz (JACK at 48000 Hz) is passed over for the next one;
//   n >= 0 the n-th device with output channels, counting JACK's first, then
//          PulseAudio's, then ALSA's, each API in RtAudio's own order.
// Every call enumerates afresh, so the numbers are those of the moment.
//
// Only the engine's format plays: 16-bit PCM, one channel, 44100 Hz. A device
// with two or more channels gets the sample on its first two.
//
// query() and open() may be called from any thread but are slow (they talk to
// the sound servers and probe the cards); keep them off the audio path. A
// stream's buffers play on RtAudio's callback thread, which takes no lock.
// A stream whose callbacks stop for 2 s (a JACK server that went away: RtAudio
// then closes the stream itself, and prints a line of its own), that takes
// frames far faster than real time, or whose device reports an error on that
// thread is lost (WaveOutStream::lost).
class RtAudioWaveOutService final : public WaveOutService {
public:
    // Enumerates once, to name the default device.
    RtAudioWaveOutService();

    // Null when no API has an output device (a machine without a sound card
    // or a sound server).
    static std::shared_ptr<WaveOutService> CreateIfAvailable();

    bool query(std::int32_t deviceId, const WaveFormat& format) override;
    // A stream already started: it plays silence until buffers are written.
    std::unique_ptr<WaveOutStream> open(std::int32_t deviceId, const WaveFormat& format,
                                        WaveOutWindow* window) override;
    // The API and the default device as they were at construction
    // ("JACK: system", "ALSA: default"); "no audio device" when there was none.
    std::string name() const override { return name_; }

private:
    bool available_ = false;
    std::string name_;
};

}  // namespace sonrigo
