#include "support/JackTestServer.h"

#include <jack/jack.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace sonrigo::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kServerStartLimit = 5s;

// libjack prints every refused connection while the server starts.
void Quiet(const char* /*message*/) {}

}  // namespace

JackTestServer::JackTestServer(const std::string& captureName, std::size_t captureFrames, unsigned period)
    : homeEnv_("HOME", home_.path().string()),
      serverEnv_("JACK_DEFAULT_SERVER", JackServerProcess::ServerName()),
      noReservation_("JACK_NO_AUDIO_RESERVATION", "1")
{
    const std::filesystem::path jackd = JackServerProcess::FindJackd();
    if (jackd.empty()) {
        skipReason_ = "jackd is not installed";
        return;
    }
    jack_set_error_function(&Quiet);
    jack_set_info_function(&Quiet);
    server_ = std::make_unique<JackServerProcess>(jackd, JackServerProcess::ServerName(), home_.path() / "jackd.log",
                                                  period);
    const auto deadline = std::chrono::steady_clock::now() + kServerStartLimit;
    while (!capture_ && server_->started() && !server_->exited() && std::chrono::steady_clock::now() < deadline) {
        capture_ = JackAudioCapture::Open(captureName, captureFrames);
        if (!capture_)
            std::this_thread::sleep_for(100ms);
    }
    if (!capture_) {
        std::ostringstream log;
        log << std::ifstream(home_.path() / "jackd.log").rdbuf();
        skipReason_ = "jackd did not come up:\n" + log.str();
    }
}

void JackTestServer::stopServer()
{
    capture_.reset();
    server_.reset();
}

// The capture goes before the server.
JackTestServer::~JackTestServer()
{
    stopServer();
}

}  // namespace sonrigo::test
