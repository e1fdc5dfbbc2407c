#include "platform/RtAudioWaveOutService.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <RtAudio.h>
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/JackServerPresence.h"
#include "platform/QueuedWaveOutStream.h"
#include "platform/WaveStreamClock.h"

namespace sonrigo {
namespace {

constexpr unsigned kSampleRate = 44100;
// Frames asked of the device per callback: 512 is 11.6 ms at 44.1 kHz. The
// callback runs at normal priority on a desktop that may be busy, so a period
// much shorter than 10 ms would underrun; with RtAudio's usual two periods
// the sound still leaves within about 25 ms of being queued, well under the
// engine's buffers of a third of a second. JACK ignores it and uses the
// server's period.
constexpr unsigned kBufferFrames = 512;
// The JACK client's name (RtAudio makes it unique when it is taken).
constexpr const char* kStreamName = "Sonrigo";

// libjack prints every failed connection; alsa-lib prints every step of a
// failed configuration lookup ("ALSA lib confmisc.c: cannot find card '0'")
// on a machine without a sound card. Library code must not print, and a
// missing server or card is an ordinary situation here.
void SilentJackMessage(const char* /*message*/) {}

void SilentAlsaMessage(const char* /*file*/, int /*line*/, const char* /*function*/, int /*err*/,
                       const char* /*fmt*/, ...)
{
}

void SilenceLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(&SilentJackMessage);
        jack_set_info_function(&SilentJackMessage);
        snd_lib_error_set_handler(&SilentAlsaMessage);
    });
}

// Periods may stay away this long before the device counts as lost: ten of
// JACK's longest (8192 frames, 186 ms), so that a machine busy for a moment
// is not taken for one whose sound server went away.
constexpr std::int64_t kLostAfterUs = 2'000'000;

std::int64_t NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class RtAudioWaveOutStream;

// When a JACK server shuts its client down, RtAudio 5 closes the stream from
// a thread it starts in its shutdown handler. That close races with the
// client's own threads inside libjack: now and then it cancels one that holds
// a lock, and then hangs in jack_client_close holding libjack's global lock,
// so that every later JACK call of the process, and the owner's own close,
// hang with it. The stream therefore takes the shutdown notice itself before
// it starts, in both of libjack's handlers (libjack may call the one, then the
// other from a second thread), and is closed once, by its owner. RtAudio
// offers no way to reach its JACK client but its protected members, read here
// through pointers to members; the client is the first member of RtAudio 5's
// JACK handle.
static_assert(RTAUDIO_VERSION[0] == '5' && RTAUDIO_VERSION[1] == '.',
              "the JACK client is reached through RtAudio 5's layout");

struct RtAudioInside : RtAudio {
    static RtApi& Api(RtAudio& audio) { return *(audio.*(&RtAudioInside::rtapi_)); }
};

struct RtApiInside : RtApi {
    static jack_client_t* JackClient(RtApi& api)
    {
        void* handle = (api.*(&RtApiInside::stream_)).apiHandle;
        return handle != nullptr ? *static_cast<jack_client_t**>(handle) : nullptr;
    }
};

// Once a stream is open, RtAudio reports through the error callback instead
// of throwing, on the thread where the error happened. On the thread of a
// Run() call, tRtAudioFailed tells Run(); on a stream's callback thread, the
// stream whose callback last ran there is failed.
thread_local bool tInRun = false;
thread_local bool tRtAudioFailed = false;
thread_local RtAudioWaveOutStream* tCallbackStream = nullptr;

void OnRtAudioError(RtAudioError::Type type, const std::string& /*text*/);

// Runs RtAudio calls; false when one threw or reported an error.
template <typename Call>
bool Run(Call&& call)
{
    tInRun = true;
    tRtAudioFailed = false;
    bool threw = false;
    try {
        call();
    } catch (const RtAudioError&) {
        threw = true;
    }
    tInRun = false;
    return !threw && !tRtAudioFailed;
}

struct OutputDevice {
    unsigned index = 0;  // RtAudio's number within its API
    std::string name;
    unsigned channels = 0;
    bool plays44100 = false;
};

struct ApiDevices {
    RtAudio::Api api = RtAudio::UNSPECIFIED;
    std::unique_ptr<RtAudio> audio;
    std::vector<OutputDevice> outputs;  // the devices with output channels, in RtAudio's order
    std::size_t preferred = 0;          // into outputs: device -1
};

std::string ApiName(RtAudio::Api api)
{
    switch (api) {
    case RtAudio::UNIX_JACK:
        return "JACK";
    case RtAudio::LINUX_PULSE:
        return "PulseAudio";
    case RtAudio::LINUX_ALSA:
        return "ALSA";
    default:
        return RtAudio::getApiDisplayName(api);
    }
}

ApiDevices ListOutputs(RtAudio::Api api)
{
    ApiDevices entry;
    entry.api = api;
    unsigned count = 0;
    unsigned preferred = 0;
    const bool started = Run([&] {
        entry.audio = std::make_unique<RtAudio>(api);
        entry.audio->showWarnings(false);
        count = entry.audio->getDeviceCount();
        preferred = entry.audio->getDefaultOutputDevice();
    });
    if (!started || !entry.audio || entry.audio->getCurrentApi() != api)
        return {};
    for (unsigned i = 0; i < count; ++i) {
        RtAudio::DeviceInfo info{};
        if (!Run([&] { info = entry.audio->getDeviceInfo(i); }) || !info.probed || info.outputChannels == 0)
            continue;
        if (i == preferred)
            entry.preferred = entry.outputs.size();
        const bool plays44100 = std::find(info.sampleRates.begin(), info.sampleRates.end(), kSampleRate) != info.sampleRates.end();
        entry.outputs.push_back({i, info.name, info.outputChannels, plays44100});
    }
    return entry;
}

// The APIs with output devices, in the order they are numbered.
std::vector<ApiDevices> EnumerateApis()
{
    SilenceLibraries();
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    std::vector<ApiDevices> apis;
    for (RtAudio::Api api : {RtAudio::UNIX_JACK, RtAudio::LINUX_PULSE, RtAudio::LINUX_ALSA}) {
        if (std::find(compiled.begin(), compiled.end(), api) == compiled.end())
            continue;
        // Asking libjack with no server running can block forever (see JackServerPresence.h).
        if (api == RtAudio::UNIX_JACK && !JackServerMayBeRunning())
            continue;
        ApiDevices entry = ListOutputs(api);
        if (!entry.outputs.empty())
            apis.push_back(std::move(entry));
    }
    return apis;
}

struct Choice {
    ApiDevices* api = nullptr;
    const OutputDevice* device = nullptr;
};

std::optional<Choice> Choose(std::vector<ApiDevices>& apis, std::int32_t deviceId)
{
    if (deviceId == -1 && !apis.empty()) {
        // Past an API whose default cannot take 44100 Hz (a JACK server
        // running at 48000 Hz), as long as a later one can.
        for (ApiDevices& api : apis) {
            if (api.outputs[api.preferred].plays44100)
                return Choice{&api, &api.outputs[api.preferred]};
        }
        return Choice{&apis.front(), &apis.front().outputs[apis.front().preferred]};
    }
    if (deviceId < 0)
        return std::nullopt;
    auto index = static_cast<std::size_t>(deviceId);
    for (ApiDevices& api : apis) {
        if (index < api.outputs.size())
            return Choice{&api, &api.outputs[index]};
        index -= api.outputs.size();
    }
    return std::nullopt;
}

// The format the stream plays: the engine's. One channel, as the play queue
// hands out one sample a frame.
bool Playable(const WaveFormat& format)
{
    return format.formatTag == 1 && format.channels == 1 && format.bitsPerSample == 16 && format.blockAlign == 2 &&
           format.samplesPerSec == kSampleRate;
}

// A mono format goes to the first two channels of a device that has them
// (some devices open only in stereo), else to its one channel.
bool DevicePlays(const OutputDevice& device, const WaveFormat& format)
{
    return device.plays44100 && device.channels >= format.channels;
}

class RtAudioWaveOutStream final : public QueuedWaveOutStream {
public:
    // Opens and starts the device; null when either fails.
    static std::unique_ptr<WaveOutStream> Open(std::unique_ptr<RtAudio> audio, const OutputDevice& device,
                                               const WaveFormat& format, WaveOutWindow* window)
    {
        auto stream = std::unique_ptr<RtAudioWaveOutStream>(new RtAudioWaveOutStream(std::move(audio), format, window));
        RtAudio& rt = *stream->audio_;
        stream->channels_ = device.channels >= 2 ? 2 : 1;
        RtAudio::StreamParameters parameters;
        parameters.deviceId = device.index;
        parameters.nChannels = stream->channels_;
        RtAudio::StreamOptions options;
        options.streamName = kStreamName;
        unsigned frames = kBufferFrames;
        const bool opened = Run([&] {
            rt.openStream(&parameters, nullptr, RTAUDIO_SINT16, kSampleRate, &frames, &RtAudioWaveOutStream::Callback,
                          stream.get(), &options, &OnRtAudioError);
        });
        if (!opened || !rt.isStreamOpen())
            return nullptr;
        if (rt.getCurrentApi() == RtAudio::UNIX_JACK) {
            jack_client_t* client = RtApiInside::JackClient(RtAudioInside::Api(rt));
            if (client == nullptr)
                return nullptr;
            jack_on_info_shutdown(client, &RtAudioWaveOutStream::ServerShutDown, stream.get());
            jack_on_shutdown(client, &RtAudioWaveOutStream::ServerGone, stream.get());
        }
        // Before the callback can run: it must not allocate.
        stream->scratch_.assign(std::max(frames, kBufferFrames), 0);
        stream->period_ = frames;
        // Opening can take a while: the device's periods are awaited from its start.
        stream->clock_.reset(NowUs());
        if (!Run([&] { rt.startStream(); }) || !rt.isStreamRunning())
            return nullptr;
        return stream;
    }

    ~RtAudioWaveOutStream() override { close(); }
    RtAudioWaveOutStream(const RtAudioWaveOutStream&) = delete;
    RtAudioWaveOutStream& operator=(const RtAudioWaveOutStream&) = delete;

    void reset() override
    {
        queue_.reset();
        clock_.reset(NowUs());
    }

    // Between two periods the position moves smoothly instead of in steps of
    // a period; it never counts a frame the device was not given, and never
    // goes back (see WaveStreamClock).
    std::uint32_t position() const override { return clock_.position(NowUs()); }
    std::uint32_t periodFrames() const override { return period_; }
    bool lost() const override { return clock_.lost(NowUs()); }

    // On the callback's thread, from OnRtAudioError.
    void deviceFailed() { clock_.fail(NowUs()); }

    // Owner's thread only, as every member but position(), periodFrames() and lost().
    bool close() override
    {
        if (!audio_)
            return false;
        RtAudio& rt = *audio_;
        bool closed = Run([&] {
            if (rt.isStreamRunning())
                rt.abortStream();
        });
        closed = Run([&] {
            if (rt.isStreamOpen())
                rt.closeStream();
        }) && closed;
        audio_.reset();  // every API has joined or stopped its callback thread by now
        queue_.detach();
        return closed;
    }

private:
    RtAudioWaveOutStream(std::unique_ptr<RtAudio> audio, const WaveFormat& format, WaveOutWindow* window)
        : QueuedWaveOutStream(format, window), audio_(std::move(audio)), clock_(kSampleRate, kLostAfterUs, NowUs())
    {
    }

    // On a libjack thread, when the server goes or drops the client: as a
    // signal handler would, they only mark the device lost.
    static void ServerGone(void* user) { static_cast<RtAudioWaveOutStream*>(user)->deviceFailed(); }
    static void ServerShutDown(jack_status_t /*code*/, const char* /*reason*/, void* user) { ServerGone(user); }

    static int Callback(void* output, void* /*input*/, unsigned frames, double /*streamTime*/,
                        RtAudioStreamStatus /*status*/, void* user)
    {
        static_cast<RtAudioWaveOutStream*>(user)->render(static_cast<std::int16_t*>(output), frames);
        return 0;
    }

    // On RtAudio's callback thread: the queued frames, interleaved into the
    // device's channels, silence where the queue runs dry or is paused, or
    // while the owner's thread holds the queue. Takes no lock.
    void render(std::int16_t* out, std::size_t frames)
    {
        tCallbackStream = this;
        const std::uint64_t resets = clock_.resets();
        // A device taken for lost plays on in silence, as its position goes on without it.
        if (clock_.lost(NowUs())) {
            std::fill(out, out + frames * channels_, 0);
            return;
        }
        const std::uint32_t before = queue_.position();
        std::size_t taken = 0;
        bool dry = false;
        for (std::size_t done = 0; done < frames;) {
            const std::size_t chunk = std::min(frames - done, scratch_.size());
            // Once the queue ran dry, the rest of the period stays silent
            // rather than starting a buffer written meanwhile after a gap.
            const std::size_t got = dry ? 0 : queue_.playWithoutWaiting(scratch_.data(), chunk);
            dry = got < chunk;
            std::fill(scratch_.begin() + static_cast<std::ptrdiff_t>(got), scratch_.begin() + static_cast<std::ptrdiff_t>(chunk), 0);
            taken += got;
            for (std::size_t i = 0; i < chunk; ++i) {
                std::int16_t* frame = out + (done + i) * channels_;
                std::fill(frame, frame + channels_, scratch_[i]);
            }
            done += chunk;
        }
        clock_.played(resets, before, static_cast<std::uint32_t>(taken), NowUs());
    }

    std::unique_ptr<RtAudio> audio_;  // null once closed
    // Of the stream: 2 where the device has them. A device's further
    // channels are not opened, so the server or driver keeps them silent.
    unsigned channels_ = 1;
    unsigned period_ = 0;  // frames per callback, as the device settled it
    std::vector<std::int16_t> scratch_;  // the callback's; sized before the stream starts
    WaveStreamClock clock_;
};

void OnRtAudioError(RtAudioError::Type type, const std::string& /*text*/)
{
    // ALSA reports every underrun as a warning.
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING)
        return;
    if (tInRun)
        tRtAudioFailed = true;
    else if (tCallbackStream != nullptr)
        tCallbackStream->deviceFailed();
}

}  // namespace

RtAudioWaveOutService::RtAudioWaveOutService()
{
    std::vector<ApiDevices> apis = EnumerateApis();
    available_ = !apis.empty();
    if (!available_) {
        name_ = "no audio device";
        return;
    }
    const Choice preferred = *Choose(apis, -1);
    name_ = ApiName(preferred.api->api) + ": " + preferred.device->name;
}

std::shared_ptr<WaveOutService> RtAudioWaveOutService::CreateIfAvailable()
{
    auto service = std::make_shared<RtAudioWaveOutService>();
    return service->available_ ? service : nullptr;
}

bool RtAudioWaveOutService::query(std::int32_t deviceId, const WaveFormat& format)
{
    if (!Playable(format))
        return false;
    std::vector<ApiDevices> apis = EnumerateApis();
    const std::optional<Choice> choice = Choose(apis, deviceId);
    return choice && DevicePlays(*choice->device, format);
}

std::unique_ptr<WaveOutStream> RtAudioWaveOutService::open(std::int32_t deviceId, const WaveFormat& format,
                                                           WaveOutWindow* window)
{
    if (!Playable(format))
        return nullptr;
    std::vector<ApiDevices> apis = EnumerateApis();
    const std::optional<Choice> choice = Choose(apis, deviceId);
    if (!choice || !DevicePlays(*choice->device, format))
        return nullptr;
    return RtAudioWaveOutStream::Open(std::move(choice->api->audio), *choice->device, format, window);
}

}  // namespace sonrigo
