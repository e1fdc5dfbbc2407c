#pragma once

#include <memory>
#include <optional>
#include <string>

#include "support/JackAudioCapture.h"
#include "support/JackServerProcess.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace sonrigo::test {

// What a test of the real JACK path needs: a private HOME, a jackd with the
// dummy driver under the test binary's own server name (JACK_DEFAULT_SERVER
// set to it while the object lives), and an audio capture client on it.
// up() is false, with the reason in skipReason(), where jackd is missing or
// does not come up: the test then skips.
class JackTestServer {
public:
    JackTestServer(const std::string& captureName, std::size_t captureFrames,
                   unsigned period = JackServerProcess::kPeriod);
    ~JackTestServer();
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    bool up() const { return capture_ != nullptr; }
    const std::string& skipReason() const { return skipReason_; }
    JackAudioCapture& capture() { return *capture_; }
    // Closes the capture and stops the server (as its user would), waiting
    // until it has exited.
    void stopServer();

private:
    TempDir home_;
    ScopedEnv homeEnv_;
    ScopedEnv serverEnv_;
    ScopedEnv noReservation_;
    std::unique_ptr<JackServerProcess> server_;
    std::unique_ptr<JackAudioCapture> capture_;
    std::string skipReason_;
};

}  // namespace sonrigo::test
