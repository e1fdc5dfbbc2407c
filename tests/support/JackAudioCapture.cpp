#include "support/JackAudioCapture.h"

#include <algorithm>
#include <thread>

namespace sonrigo::test {

std::unique_ptr<JackAudioCapture> JackAudioCapture::Open(const std::string& clientName, std::size_t capacityFrames)
{
    jack_status_t status{};
    jack_client_t* client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
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

JackAudioCapture::JackAudioCapture(jack_client_t* client, std::size_t capacityFrames)
    : client_(client), samples_(capacityFrames, 0.0F)
{
}

// jack_client_close joins the process thread, so nothing is recorded afterwards.
JackAudioCapture::~JackAudioCapture()
{
    jack_client_close(client_);
}

std::string JackAudioCapture::portName() const
{
    return jack_port_name(port_);
}

std::vector<std::string> JackAudioCapture::outputPortsOf(const std::string& clientName) const
{
    std::vector<std::string> names;
    const std::string pattern = "^" + clientName + ":";
    if (const char** ports = jack_get_ports(client_, pattern.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput)) {
        for (const char** p = ports; *p != nullptr; ++p)
            names.emplace_back(*p);
        jack_free(ports);
    }
    return names;
}

bool JackAudioCapture::connectFrom(const std::string& outputPort)
{
    return jack_connect(client_, outputPort.c_str(), jack_port_name(port_)) == 0;
}

bool JackAudioCapture::waitUntilConnected(std::chrono::milliseconds limit) const
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (jack_port_connected(port_) <= 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
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

}  // namespace sonrigo::test
