#pragma once

#include <memory>
#include <stop_token>
#include <string>

#include "platform/SoftSynth.h"

extern "C" {
typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
}

namespace sonrigo {

// The built-in General MIDI synthesizer: FluidSynth playing a SoundFont, with
// no audio driver of its own (the rack renders it). Loading a SoundFont reads
// all its samples (a second or so for a large one from a cold disk), so it is
// created once, where nobody waits for it (the window makes it on a thread of
// its own); afterwards send() and render() neither allocate nor touch the
// disk.
class FluidSoftSynth final : public SoftSynth {
public:
    // Shown as the MIDI output's name (the main window has room for 31).
    static constexpr const char* kName = "Built-in GM synth (FluidSynth)";

    // Loads the SoundFont; null, with `error` saying why, when it cannot.
    // A stop requested on `stop` meanwhile (from any thread) ends the load
    // within a few megabytes' reading: the window's shutdown does not wait
    // for a whole SoundFont to come from the disk.
    static std::unique_ptr<FluidSoftSynth> Create(const std::string& soundFont, double sampleRate,
                                                  std::string& error, std::stop_token stop = {});
    // The General MIDI SoundFont to use: $SONRIGO_SOUNDFONT when set, else
    // the first of the Debian packages' that is installed; empty when none.
    static std::string DefaultSoundFont();

    ~FluidSoftSynth() override;
    FluidSoftSynth(const FluidSoftSynth&) = delete;
    FluidSoftSynth& operator=(const FluidSoftSynth&) = delete;

    void send(std::span<const std::uint8_t> message) override;
    void render(float* left, float* right, std::size_t frames) override;

    // The preset number a channel plays (for tests and diagnostics).
    int program(int channel) const;

private:
    FluidSoftSynth(fluid_settings_t* settings, fluid_synth_t* synth) : settings_(settings), synth_(synth) {}

    fluid_settings_t* settings_;
    fluid_synth_t* synth_;
};

}  // namespace sonrigo
