#include "platform/RtMidiOutputSystem.h"

#include <jack/jack.h>
#include <unistd.h>

#include <RtMidi.h>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>

#include "common/InstalledService.h"
#include "platform/JackServerPresence.h"

namespace sonrigo {
namespace {

constexpr const char* kClientName = "Sonrigo";
constexpr const char* kOutputPortName = "Sonrigo output";
constexpr std::string_view kMidiThrough = "Midi Through";

// RtMidi's JACK backend unregisters its port as soon as its process callback
// has taken the last queued messages, before the clients reading them have
// run in that cycle; the messages sent just before closing (the reset that
// silences the synthesizer) are then lost. Closing waits this long first:
// several cycles at any usual period (1024 frames at 44.1 kHz is 23 ms).
constexpr auto kJackDrainTime = std::chrono::milliseconds(100);

// libjack prints every failed connection attempt ("Cannot connect to server
// socket ...") to stderr; library code must not print, and a missing server
// is an ordinary situation here.
void SilentJackMessage(const char* /*message*/) {}

void SilenceJack()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(&SilentJackMessage);
        jack_set_info_function(&SilentJackMessage);
    });
}

// RtMidi reports errors from its constructor on std::cerr before an error
// callback can be set, so an API that cannot start is detected beforehand.
bool JackServerRunning()
{
    if (!JackServerMayBeRunning())
        return false;
    SilenceJack();
    jack_status_t status{};
    jack_client_t* client = jack_client_open("sonrigo-probe", JackNoStartServer, &status);
    if (client == nullptr)
        return false;
    jack_client_close(client);
    return true;
}

// RtMidi connects its JACK port to the destination as it opens it, but
// messages sent before the connection has reached the server's graph are
// dropped, and the first one sent is General MIDI System On, at every start.
// Waits until the destination reports the connection (at most half a second)
// and then one period more, so that the next cycle carries what is sent.
void AwaitJackConnection(const std::string& destination)
{
    constexpr auto kLimit = std::chrono::milliseconds(500);
    if (!JackServerMayBeRunning())
        return;
    SilenceJack();
    jack_status_t status{};
    jack_client_t* client = jack_client_open("sonrigo-connect", JackNoStartServer, &status);
    if (client == nullptr)
        return;
    if (jack_port_t* port = jack_port_by_name(client, destination.c_str())) {
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        while (jack_port_connected(port) <= 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const jack_nframes_t rate = jack_get_sample_rate(client);
        if (rate > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(std::int64_t{jack_get_buffer_size(client)} * 1'000'000 / rate));
    }
    jack_client_close(client);
}

bool AlsaSequencerPresent()
{
    return access("/dev/snd/seq", R_OK | W_OK) == 0;
}

// One RtMidiOut with the flag its error callback raises. Heap-allocated and
// never moved: the callback holds the flag's address.
class Connection {
public:
    static std::unique_ptr<Connection> Create(RtMidi::Api api)
    {
        if (api == RtMidi::LINUX_ALSA ? !AlsaSequencerPresent() : !JackServerRunning())
            return nullptr;
        auto connection = std::unique_ptr<Connection>(new Connection);
        try {
            connection->midi_ = std::make_unique<RtMidiOut>(api, kClientName);
        } catch (const RtMidiError&) {
            return nullptr;  // the sequencer went away between the check and the open
        }
        connection->midi_->setErrorCallback(&Connection::OnError, &connection->failed_);
        return connection;
    }

    RtMidiOut& midi() { return *midi_; }

    // Runs one RtMidi call; false when it reported an error. With an error
    // callback installed RtMidi reports instead of throwing, but a throw is
    // still caught so that none leaves a component.
    template <typename Call>
    bool run(Call&& call)
    {
        failed_.store(false, std::memory_order_relaxed);
        try {
            call(*midi_);
        } catch (const RtMidiError&) {
            return false;
        }
        return !failed_.load(std::memory_order_relaxed);
    }

private:
    Connection() = default;

    static void OnError(RtMidiError::Type type, const std::string& /*text*/, void* user)
    {
        if (type != RtMidiError::DEBUG_WARNING)
            static_cast<std::atomic<bool>*>(user)->store(true, std::memory_order_relaxed);
    }

    std::unique_ptr<RtMidiOut> midi_;
    std::atomic<bool> failed_{false};
};

struct ApiPorts {
    RtMidi::Api api;
    std::unique_ptr<Connection> connection;
    std::vector<std::string> names;
};

// The APIs in the order their ports are numbered: the ALSA sequencer, then JACK.
std::vector<ApiPorts> EnumerateApis()
{
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    std::vector<ApiPorts> apis;
    for (RtMidi::Api api : {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK}) {
        bool present = false;
        for (RtMidi::Api c : compiled)
            present = present || c == api;
        if (!present)
            continue;
        ApiPorts entry;
        entry.api = api;
        entry.connection = Connection::Create(api);
        if (!entry.connection)
            continue;
        unsigned count = 0;
        entry.connection->run([&](RtMidiOut& midi) { count = midi.getPortCount(); });
        for (unsigned i = 0; i < count; ++i) {
            std::string name;
            entry.connection->run([&](RtMidiOut& midi) { name = midi.getPortName(i); });
            entry.names.push_back(std::move(name));
        }
        apis.push_back(std::move(entry));
    }
    return apis;
}

class RtMidiPort final : public MidiOutputPort {
public:
    RtMidiPort(std::unique_ptr<Connection> connection, RtMidi::Api api)
        : connection_(std::move(connection)), api_(api)
    {
    }
    ~RtMidiPort() override { close(); }

    // The lock only keeps a send from meeting close(); it is never contended
    // while playing, as the sequencer does not send while the port closes.
    bool sendShort(std::span<const std::uint8_t> bytes) override { return send(bytes); }
    bool sendLong(std::span<const std::uint8_t> bytes) override { return send(bytes); }

    bool reset() override
    {
        bool ok = true;
        for (std::uint8_t channel = 0; channel < 16; ++channel) {
            for (std::uint8_t controller : kResetControllers) {
                const std::array<std::uint8_t, 3> message = {static_cast<std::uint8_t>(0xB0 | channel), controller, 0};
                ok = send(message) && ok;
            }
        }
        return ok;
    }

    bool close() override
    {
        std::lock_guard lock(mutex_);
        if (!connection_)
            return false;
        if (api_ == RtMidi::UNIX_JACK)
            std::this_thread::sleep_for(kJackDrainTime);
        const bool ok = connection_->run([](RtMidiOut& midi) { midi.closePort(); });
        connection_.reset();
        return ok;
    }

private:
    bool send(std::span<const std::uint8_t> bytes)
    {
        std::lock_guard lock(mutex_);
        if (!connection_ || bytes.empty())
            return false;
        return connection_->run([&](RtMidiOut& midi) { midi.sendMessage(bytes.data(), bytes.size()); });
    }

    std::mutex mutex_;
    std::unique_ptr<Connection> connection_;  // null once closed
    const RtMidi::Api api_;
};

}  // namespace

int ChooseDefaultPort(const std::vector<std::string>& names, std::string_view preferred)
{
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool chosen = preferred.empty() ? names[i].find(kMidiThrough) == std::string::npos
                                              : names[i].find(preferred) != std::string::npos;
        if (chosen)
            return static_cast<int>(i);
    }
    return preferred.empty() && !names.empty() ? 0 : -1;
}

std::vector<std::string> RtMidiOutputSystem::portNames()
{
    std::vector<std::string> names;
    for (ApiPorts& api : EnumerateApis())
        names.insert(names.end(), api.names.begin(), api.names.end());
    return names;
}

int RtMidiOutputSystem::defaultPort()
{
    const std::vector<std::string> names = portNames();
    std::lock_guard lock(mutex_);
    return ChooseDefaultPort(names, preferred_);
}

std::unique_ptr<MidiOutputPort> RtMidiOutputSystem::open(int deviceId)
{
    std::vector<ApiPorts> apis = EnumerateApis();
    if (deviceId == -1) {
        std::vector<std::string> names;
        for (const ApiPorts& api : apis)
            names.insert(names.end(), api.names.begin(), api.names.end());
        std::lock_guard lock(mutex_);
        deviceId = ChooseDefaultPort(names, preferred_);
    }
    if (deviceId < 0)
        return nullptr;
    auto index = static_cast<std::size_t>(deviceId);
    for (ApiPorts& api : apis) {
        if (index >= api.names.size()) {
            index -= api.names.size();
            continue;
        }
        const auto port = static_cast<unsigned>(index);
        const bool opened = api.connection->run([&](RtMidiOut& midi) { midi.openPort(port, kOutputPortName); });
        if (!opened || !api.connection->midi().isPortOpen())
            return nullptr;
        if (api.api == RtMidi::UNIX_JACK)
            AwaitJackConnection(api.names[index]);
        return std::make_unique<RtMidiPort>(std::move(api.connection), api.api);
    }
    return nullptr;
}

void RtMidiOutputSystem::setPreferredPort(std::string nameContains)
{
    std::lock_guard lock(mutex_);
    preferred_ = std::move(nameContains);
}

namespace {

InstalledService<MidiOutputSystem>& Installed()
{
    static InstalledService<MidiOutputSystem> installed;
    return installed;
}

}  // namespace

void InstallMidiOutputSystem(std::shared_ptr<MidiOutputSystem> system)
{
    Installed().exchange(std::move(system));
}

std::shared_ptr<MidiOutputSystem> CurrentMidiOutputSystem()
{
    return Installed().current([] { return std::make_shared<RtMidiOutputSystem>(); });
}

}  // namespace sonrigo
