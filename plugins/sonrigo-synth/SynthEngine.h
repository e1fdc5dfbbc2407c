#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "SynthPrograms.h"
#include "SynthVoice.h"

namespace sonrigo::synth {

// What the editor shows of the sound, published by the render thread at the
// end of every block.
struct SynthMeter {
    std::atomic<float> peak{0.0f};  // the block's output peak
    std::atomic<int> voices{0};     // voices sounding
    std::array<std::atomic<std::uint64_t>, 2> keys{};  // bit n: note n (64 + n in the second word) is down
};

// The polyphonic sound engine of one instance: the voices, the channel's
// controller state, the events waiting for the next block and a limiter on
// the output. Everything here but setSampleRate, requestReset and meter()
// belongs to the render thread; voices are allocated once, with the engine.
class SynthEngine {
public:
    // Enough for two hands with the pedal down and the releases of the
    // chords before; beyond it the quietest or oldest voice is taken over.
    static constexpr int kVoiceCount = 32;
    // Far more events than one 20 ms block carries from a MIDI file; any more
    // in the same block are dropped.
    static constexpr int kMaxEvents = 1024;

    explicit SynthEngine(SynthPrograms& programs);

    // Any thread; the render thread takes it up at its next block, silencing
    // every voice when the rate changed.
    void setSampleRate(float sampleRate);
    // Any thread; at the next block every voice stops and the controllers
    // return to their defaults (the host resumed the plug-in).
    void requestReset() { resetRequested_.store(true, std::memory_order_release); }

    // Queues a short MIDI message for the next render at frame `frame` of the
    // block (clamped into the block there). Returns false when the queue is full.
    bool queueMidi(int frame, std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

    // Overwrites outputs[0..outputCount) with frames samples of the same mono
    // signal, applying the queued events at their frames.
    void render(float* const* outputs, int outputCount, int frames);

    const SynthMeter& meter() const { return meter_; }

private:
    struct Event {
        int frame;
        std::uint8_t status;
        std::uint8_t data1;
        std::uint8_t data2;
    };

    void beginBlock();
    void renderSpan(float* out, int from, int to);
    void apply(const Event& event);
    void noteOn(int note, int velocity);
    void noteOff(int note);
    void controlChange(int controller, int value);
    void releaseAll();
    void silenceAll();
    void resetControllers(bool withVolume);
    SynthVoice& voiceFor(int note);
    float releaseMs() const;
    void publishMeter();

    SynthPrograms& programs_;
    std::array<SynthVoice, kVoiceCount> voices_{};
    std::array<Event, kMaxEvents> events_{};
    int eventCount_ = 0;
    std::uint64_t noteCounter_ = 0;

    std::atomic<float> requestedSampleRate_{44100.0f};
    std::atomic<bool> resetRequested_{false};
    VoiceContext context_{};

    // Channel controllers.
    bool sustainPedal_ = false;
    float channelVolume_ = 0.0f;  // CC 7, as gain
    float expression_ = 0.0f;     // CC 11, as gain

    // Output gain, smoothed so that volume changes do not click.
    float gain_ = 0.0f;
    float targetGain_ = 0.0f;
    float gainSmoothing_ = 0.0f;
    float limiterEnvelope_ = 0.0f;
    float limiterRelease_ = 0.0f;
    float blockPeak_ = 0.0f;

    SynthMeter meter_;
};

}  // namespace sonrigo::synth
