#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sonrigo {

// A software synthesizer that the audio engine plays beside its instruments.
// The engine calls both functions from its render thread, never two at once.
class SoftSynth {
public:
    virtual ~SoftSynth() = default;
    // Applies one MIDI message now: a channel message (the status byte and
    // its data bytes) or a whole system-exclusive message, F0 ... F7. Anything
    // else is ignored.
    virtual void send(std::span<const std::uint8_t> message) = 0;
    // Renders the next `frames` frames into both channels (overwriting them).
    virtual void render(float* left, float* right, std::size_t frames) = 0;
};

}  // namespace sonrigo
