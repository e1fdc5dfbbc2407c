#include "support/JackTestServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace sonrigo::test {
namespace {

using namespace std::chrono_literals;

// jackd on the PATH; empty when it is not installed.
std::string FindJackd()
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (::access((dir + "/jackd").c_str(), X_OK) == 0)
            return dir + "/jackd";
    return {};
}

// Unique to the test binary, yet the same at every run: jack2 keeps a small
// table of servers and frees an entry only for a server of the same name, so
// the entry of a run that died is taken back by the next one.
std::string ServerName()
{
    std::error_code ignored;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", ignored).string();
    return "sonrigo-test-" + std::to_string(std::hash<std::string>{}(self) % 1000000);
}

}  // namespace

std::unique_ptr<JackAudioCapture> JackAudioCapture::Open(const std::string& clientName, std::size_t capacityFrames)
{
    jack_client_t* client = jack_client_open(clientName.c_str(), JackNoStartServer, nullptr);
    if (client == nullptr)
        return nullptr;
    auto capture = std::unique_ptr<JackAudioCapture>(new JackAudioCapture(client, capacityFrames));
    capture->port_ = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    if (capture->port_ == nullptr ||
        jack_set_process_callback(client, &JackAudioCapture::Process, capture.get()) != 0 ||
        jack_activate(client) != 0)
        return nullptr;
    return capture;
}

bool JackAudioCapture::connectFrom(const std::string& clientName)
{
    const std::string pattern = "^" + clientName + ":";
    const char** ports = jack_get_ports(client_, pattern.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    const bool connected = ports != nullptr && jack_connect(client_, ports[0], jack_port_name(port_)) == 0;
    jack_free(ports);
    return connected;
}

bool JackAudioCapture::waitUntilConnected(std::chrono::milliseconds limit) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (jack_port_connected(port_) <= 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return jack_port_connected(port_) > 0;
}

int JackAudioCapture::Process(jack_nframes_t frames, void* arg)
{
    auto* self = static_cast<JackAudioCapture*>(arg);
    const auto* in = static_cast<const float*>(jack_port_get_buffer(self->port_, frames));
    const std::size_t recorded = self->count_.load(std::memory_order_relaxed);
    if (recorded == 0)
        self->firstFrameTime_.store(jack_last_frame_time(self->client_), std::memory_order_relaxed);
    const std::size_t take = std::min<std::size_t>(frames, self->samples_.size() - recorded);
    if (take < frames)
        self->overflowed_.store(true, std::memory_order_release);
    std::copy(in, in + take, self->samples_.begin() + static_cast<std::ptrdiff_t>(recorded));
    self->count_.store(recorded + take, std::memory_order_release);
    return 0;
}

JackTestServer::JackTestServer(const std::string& captureName, std::size_t captureFrames)
    : serverEnv_("JACK_DEFAULT_SERVER", ServerName())
{
    const std::string jackd = FindJackd();
    if (jackd.empty()) {
        skipReason_ = "jackd is not installed";
        return;
    }
    // libjack prints every refused connection while the server starts.
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    const std::filesystem::path log = home_.path() / "jackd.log";
    const std::string name = ServerName(), rate = std::to_string(kSampleRate), period = std::to_string(kPeriod);
    const char* argv[] = {jackd.c_str(), "--no-realtime", "--sync", "--timeout", "5000", "--name", name.c_str(),
                          "-d", "dummy", "-r", rate.c_str(), "-p", period.c_str(), nullptr};
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls until exec. The server must not
        // outlive a test process that dies without running destructors
        // (a sanitizer stopping it): jack2 allows only a few servers at once.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
        ::execv(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
    // Starting does not wait: the capture tries until it opens.
    for (auto deadline = std::chrono::steady_clock::now() + 5s;
         !capture_ && !exited() && std::chrono::steady_clock::now() < deadline;) {
        capture_ = JackAudioCapture::Open(captureName, captureFrames);
        if (!capture_)
            std::this_thread::sleep_for(100ms);
    }
    if (!capture_) {
        std::ostringstream text;
        text << std::ifstream(log).rdbuf();
        skipReason_ = "jackd did not come up:\n" + text.str();
    }
}

bool JackTestServer::exited()
{
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_)
        pid_ = -1;
    return pid_ <= 0;
}

// A server killed while it writes its metadata database leaves a lock that
// hangs every later JACK client, so it gets a long time to quit.
void JackTestServer::stopServer()
{
    capture_.reset();
    if (exited())
        return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 400 && !exited(); ++i)
        std::this_thread::sleep_for(50ms);
    if (!exited()) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

}  // namespace sonrigo::test
