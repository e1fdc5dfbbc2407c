#pragma once

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace sonrigo::test {

// A JACK client with one audio input that records every frame it receives,
// from its activation on, into storage allocated up front; frames beyond the
// capacity are dropped and flagged. Its process callback neither allocates
// nor locks: it fills frames the reader has not been given yet and publishes
// them through an atomic count.
//
// Frame i of the recording arrived in the cycle of JACK frame time
// firstFrameTime() + i, as long as no cycle was skipped (the synchronous
// server of JackServerProcess skips none).
class JackAudioCapture {
public:
    // Null when no server answers or the client cannot start. Opens with
    // JackNoStartServer.
    static std::unique_ptr<JackAudioCapture> Open(const std::string& clientName, std::size_t capacityFrames);
    ~JackAudioCapture();
    JackAudioCapture(const JackAudioCapture&) = delete;
    JackAudioCapture& operator=(const JackAudioCapture&) = delete;

    std::string portName() const;
    // The audio output ports of another client, in the order it registered them.
    std::vector<std::string> outputPortsOf(const std::string& clientName) const;
    bool connectFrom(const std::string& outputPort);
    bool waitUntilConnected(std::chrono::milliseconds limit) const;

    // Frames recorded so far; those below it may be read.
    std::size_t frames() const { return count_.load(std::memory_order_acquire); }
    const float* samples() const { return samples_.data(); }
    // The JACK frame time of the cycle that brought frame 0; valid once frames() > 0.
    jack_nframes_t firstFrameTime() const { return firstFrameTime_.load(std::memory_order_acquire); }
    bool overflowed() const { return overflowed_.load(std::memory_order_acquire); }
    // JACK's estimate of the frame time now, from any thread.
    jack_nframes_t frameTimeNow() const { return jack_frame_time(client_); }

private:
    JackAudioCapture(jack_client_t* client, std::size_t capacityFrames);
    static int Process(jack_nframes_t frames, void* arg);

    jack_client_t* client_;
    jack_port_t* port_ = nullptr;
    std::vector<float> samples_;  // sized at construction, never resized
    std::atomic<std::size_t> count_{0};
    std::atomic<jack_nframes_t> firstFrameTime_{0};
    std::atomic<bool> overflowed_{false};
};

}  // namespace sonrigo::test
