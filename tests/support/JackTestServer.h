#pragma once

#include <jack/jack.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace sonrigo::test {

// A JACK client with one audio input that records every frame it receives,
// from its activation on, into storage allocated up front; frames beyond the
// capacity are dropped and flagged. Its process callback neither allocates
// nor locks: it fills frames the reader has not been given yet and publishes
// them through an atomic count.
//
// Frame i of the recording arrived in the cycle of JACK frame time
// firstFrameTime() + i, as long as no cycle was skipped (the synchronous
// server of JackTestServer skips none).
class JackAudioCapture {
public:
    // Null when no server answers or the client cannot start.
    static std::unique_ptr<JackAudioCapture> Open(const std::string& clientName, std::size_t capacityFrames);
    // jack_client_close joins the process thread, so nothing is recorded afterwards.
    ~JackAudioCapture() { jack_client_close(client_); }

    // Connects the first audio output port that another client registered;
    // false while it has none, or when JACK refuses.
    bool connectFrom(const std::string& clientName);
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
    JackAudioCapture(jack_client_t* client, std::size_t capacityFrames) : client_(client), samples_(capacityFrames) {}
    static int Process(jack_nframes_t frames, void* arg);

    jack_client_t* client_;
    jack_port_t* port_ = nullptr;
    std::vector<float> samples_;  // sized at construction, never resized
    std::atomic<std::size_t> count_{0};
    std::atomic<jack_nframes_t> firstFrameTime_{0};
    std::atomic<bool> overflowed_{false};
};

// A JACK server of the test's own and an audio capture client on it. The
// server is jackd with the dummy driver (no sound card), without real-time
// scheduling, its output in a log file; synchronous, with a long client
// timeout: on a loaded machine it waits for the clients instead of dropping
// their cycle. While the object lives, JACK_DEFAULT_SERVER names the server,
// HOME is a temporary directory and JACK_NO_AUDIO_RESERVATION=1.
// up() is false, with the reason in skipReason(), where jackd is missing or
// does not come up: the test then skips.
class JackTestServer {
public:
    static constexpr unsigned kSampleRate = 44100;
    static constexpr unsigned kPeriod = 256;

    JackTestServer(const std::string& captureName, std::size_t captureFrames);
    ~JackTestServer() { stopServer(); }

    bool up() const { return capture_ != nullptr; }
    const std::string& skipReason() const { return skipReason_; }
    JackAudioCapture& capture() { return *capture_; }
    // Closes the capture and stops the server (as its user would), waiting
    // until it has exited: SIGTERM, then after 20 s SIGKILL.
    void stopServer();

private:
    bool exited();

    TempDir home_;
    ScopedEnv homeEnv_{"HOME", home_.path().string()};
    ScopedEnv serverEnv_;
    ScopedEnv noReservation_{"JACK_NO_AUDIO_RESERVATION", "1"};
    pid_t pid_ = -1;  // -1 once reaped
    std::unique_ptr<JackAudioCapture> capture_;  // goes before the server
    std::string skipReason_;
};

}  // namespace sonrigo::test
