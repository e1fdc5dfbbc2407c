#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace sonrigo {

// The format of the samples handed to a wave output: 16-bit PCM, as the
// audio engine writes it (one channel, 44100 frames a second).
struct WaveFormat {
    std::uint16_t formatTag = 1;  // PCM
    std::uint16_t channels = 1;
    std::uint32_t samplesPerSec = 44100;
    std::uint32_t avgBytesPerSec = 88200;
    std::uint16_t blockAlign = 2;
    std::uint16_t bitsPerSample = 16;
    std::uint16_t extraSize = 0;
};

// One buffer's header, as the owner and the device share it. The device sets
// and clears the flags on its own thread, hence the atomic.
struct WaveHeader {
    static constexpr std::uint32_t kDone = 1;
    static constexpr std::uint32_t kPrepared = 2;
    static constexpr std::uint32_t kInQueue = 0x10;

    char* data = nullptr;
    std::uint32_t bufferLength = 0;  // bytes
    std::uintptr_t user = 0;
    std::atomic<std::uint32_t> flags{0};
    std::uint32_t loops = 0;
};

// Where a device sends the header of each buffer it has finished playing.
// Called on the device's own thread (an audio callback, a clock), so an
// implementation only hands the header on to its owner's thread, which then
// requeues it; it must not block for long and must not call the device.
class WaveOutWindow {
public:
    virtual ~WaveOutWindow() = default;
    virtual void waveBufferDone(WaveHeader* header) = 0;
};

// An open wave output: plays the buffers written to it in the order they
// were written, each once, and returns each through the window when played.
// Every operation but position() runs on the owner's thread.
class WaveOutStream {
public:
    virtual ~WaveOutStream() = default;
    // false when the header is queued (prepare) or still queued (unprepare).
    virtual bool prepare(WaveHeader& header) = 0;
    virtual bool unprepare(WaveHeader& header) = 0;
    // Queues a prepared buffer; false when it is not prepared or already queued.
    virtual bool write(WaveHeader& header) = 0;
    virtual void pause() = 0;
    virtual void restart() = 0;
    // Stops playing, returns every queued buffer marked done (through the
    // window) and sets the position back to 0.
    virtual void reset() = 0;
    // Frames played since the stream was opened or last reset. From any thread.
    virtual std::uint32_t position() const = 0;
    // Stops the device; no notification comes afterwards. false when it fails.
    virtual bool close() = 0;

    // From now until reset(), a buffer played to its end goes straight back
    // to the end of the queue on the device's own thread, still prepared and
    // without a done notification: a ring of buffers then keeps playing
    // however long the owner's thread is busy. A stream that cannot goes on
    // returning its buffers for the owner to queue again.
    virtual void circulate() {}
    // Frames the device takes from the queue at a time (its period); 0 when
    // it has none to tell. From any thread.
    virtual std::uint32_t periodFrames() const { return 0; }
    // Whether the device went away while the stream was open (its sound
    // server stopped, its card was unplugged). It stays lost; from then on
    // the position follows real time, as a device playing into nothing would,
    // and nothing more is played. From any thread.
    virtual bool lost() const { return false; }
};

// The system's wave output devices. Device -1 is the default one.
class WaveOutService {
public:
    virtual ~WaveOutService() = default;
    // Whether the device plays the format (asked without opening it).
    virtual bool query(std::int32_t deviceId, const WaveFormat& format) = 0;
    // Opens the device, paused until buffers are written (and not paused, or
    // restarted); null when it cannot be opened.
    virtual std::unique_ptr<WaveOutStream> open(std::int32_t deviceId, const WaveFormat& format,
                                                WaveOutWindow* window) = 0;
    // What plays the sound, for the user ("ALSA: default", "no audio device").
    virtual std::string name() const = 0;
    // True only for the device that plays into nothing because the machine
    // has no sound device at all (not for one installed on purpose).
    virtual bool standsInForMissingDevice() const { return false; }
};

// The process-wide service. Until one is installed, the first call installs
// the real one: a sound server or card when there is one, else a device that
// plays in real time into nothing and stands in for the missing one.
void InstallWaveOutService(std::shared_ptr<WaveOutService> service);
std::shared_ptr<WaveOutService> CurrentWaveOutService();

}  // namespace sonrigo
