#include "platform/FluidSoftSynth.h"

#include <dlfcn.h>
#include <fluidsynth.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace sonrigo {
namespace {

// Where Debian's General MIDI SoundFont packages put their files, best first:
// fluid-soundfont-gm (the one the install script installs), then the
// smaller alternatives, then whatever the system made its default.
constexpr std::array<const char*, 4> kSoundFontPlaces = {
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf3/default-GM.sf3",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
};

// The name the load is given: FluidSynth tries its own loader after ours, and
// would read the whole file again after a stop; under this name its loader
// finds no file and gives up at once.
constexpr std::string_view kStoppablePrefix = "sonrigo-stoppable:";

// FluidSynth prints its errors and warnings to stderr by default; library
// code must not print. The first error of the calling thread's load is kept
// so that a failed load can say why: the ones after it are FluidSynth's own
// loader failing on the name ours was given, and its summary.
thread_local std::string tFirstError;

void KeepError(int /*level*/, const char* message, void* /*data*/)
{
    if (!tFirstError.empty() || message == nullptr)
        return;
    tFirstError = message;
    // The user knows the file by its own name.
    if (const std::size_t at = tFirstError.find(kStoppablePrefix); at != std::string::npos)
        tFirstError.erase(at, kStoppablePrefix.size());
}

void SilenceFluidSynth()
{
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, &KeepError, nullptr);
        fluid_set_log_function(FLUID_ERR, &KeepError, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

// Debian's FluidSynth is built with OpenMP and loads a SoundFont's samples on
// a team of OpenMP threads, which then linger, spinning, beside the audio
// threads, and synchronise in ways ThreadSanitizer cannot follow. Loading on
// the calling thread alone costs a tenth of a second once, at the engine's
// start. The setting is the calling thread's; where FluidSynth has no OpenMP,
// there is nothing to set.
void LoadOnThisThreadOnly()
{
    using SetNumThreads = void (*)(int);
    if (void* symbol = ::dlsym(RTLD_DEFAULT, "omp_set_num_threads"))
        reinterpret_cast<SetNumThreads>(symbol)(1);
}

// FluidSynth reads a SoundFont's samples in one call of its file callbacks
// (some 140 MB for FluidR3_GM): the callbacks below read it in pieces of
// this size and give up between two when the load is asked to stop.
constexpr std::size_t kReadPiece = std::size_t{4} << 20;

// The stop of the load running on this thread; the open callback gets only
// the file name, and the load runs on the calling thread alone (above).
thread_local const std::stop_token* tLoadStop = nullptr;


bool LoadStopped()
{
    return tLoadStop != nullptr && tLoadStop->stop_requested();
}

void* OpenSoundFont(const char* name)
{
    const std::string_view path(name);
    if (LoadStopped() || !path.starts_with(kStoppablePrefix))
        return nullptr;
    return std::fopen(name + kStoppablePrefix.size(), "rb");
}

int ReadSoundFont(void* buffer, fluid_long_long_t count, void* handle)
{
    auto* bytes = static_cast<char*>(buffer);
    for (auto left = static_cast<std::size_t>(std::max<fluid_long_long_t>(count, 0)); left > 0;) {
        const std::size_t piece = std::min(left, kReadPiece);
        if (LoadStopped() || std::fread(bytes, 1, piece, static_cast<std::FILE*>(handle)) != piece)
            return FLUID_FAILED;
        bytes += piece;
        left -= piece;
    }
    return FLUID_OK;
}

int SeekSoundFont(void* handle, fluid_long_long_t offset, int origin)
{
    return ::fseeko(static_cast<std::FILE*>(handle), static_cast<off_t>(offset), origin) == 0 ? FLUID_OK
                                                                                             : FLUID_FAILED;
}

fluid_long_long_t TellSoundFont(void* handle)
{
    return ::ftello(static_cast<std::FILE*>(handle));
}

int CloseSoundFont(void* handle)
{
    return std::fclose(static_cast<std::FILE*>(handle)) == 0 ? FLUID_OK : FLUID_FAILED;
}

bool IsFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::unique_ptr<FluidSoftSynth> FluidSoftSynth::Create(const std::string& soundFont, double sampleRate,
                                                       std::string& error, std::stop_token stop)
{
    SilenceFluidSynth();
    if (soundFont.empty()) {
        error = "no General MIDI SoundFont found (install fluid-soundfont-gm, or name one in SONRIGO_SOUNDFONT)";
        return nullptr;
    }
    if (!IsFile(soundFont) || fluid_is_soundfont(soundFont.c_str()) == 0) {
        error = soundFont + " is not a SoundFont";
        return nullptr;
    }
    fluid_settings_t* settings = new_fluid_settings();
    if (settings == nullptr) {
        error = "FluidSynth could not start";
        return nullptr;
    }
    fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
    // Messages and rendering both come from the render thread.
    fluid_settings_setint(settings, "synth.threadsafe-api", 0);
    fluid_synth_t* synth = new_fluid_synth(settings);
    if (synth == nullptr) {
        delete_fluid_settings(settings);
        error = "FluidSynth could not start";
        return nullptr;
    }
    std::unique_ptr<FluidSoftSynth> result(new FluidSoftSynth(settings, synth));
    // Tried before the synth's own loader; the synth deletes it.
    if (fluid_sfloader_t* loader = new_fluid_defsfloader(settings); loader != nullptr) {
        fluid_sfloader_set_callbacks(loader, &OpenSoundFont, &ReadSoundFont, &SeekSoundFont, &TellSoundFont,
                                     &CloseSoundFont);
        fluid_synth_add_sfloader(synth, loader);
    }
    tFirstError.clear();
    LoadOnThisThreadOnly();
    tLoadStop = &stop;
    const int loaded = fluid_synth_sfload(synth, (std::string(kStoppablePrefix) + soundFont).c_str(), 1);
    tLoadStop = nullptr;
    if (stop.stop_requested()) {
        error = "the load of " + soundFont + " was abandoned";
        return nullptr;
    }
    if (loaded == FLUID_FAILED) {
        error = soundFont + " could not be loaded" + (tFirstError.empty() ? "" : ": " + tFirstError);
        return nullptr;
    }
    return result;
}

std::string FluidSoftSynth::DefaultSoundFont()
{
    if (const char* chosen = std::getenv("SONRIGO_SOUNDFONT"); chosen != nullptr && *chosen != '\0')
        return chosen;
    for (const char* place : kSoundFontPlaces) {
        if (IsFile(place))
            return place;
    }
    return {};
}

FluidSoftSynth::~FluidSoftSynth()
{
    delete_fluid_synth(synth_);
    delete_fluid_settings(settings_);
}

void FluidSoftSynth::send(std::span<const std::uint8_t> message)
{
    if (message.empty())
        return;
    const std::uint8_t status = message[0];
    if (status == 0xF0) {
        // FluidSynth wants the body alone, without F0 and the closing F7.
        std::size_t length = message.size() - 1;
        if (length > 0 && message.back() == 0xF7)
            --length;
        if (length > 0)
            fluid_synth_sysex(synth_, reinterpret_cast<const char*>(message.data() + 1), static_cast<int>(length),
                              nullptr, nullptr, nullptr, 0);
        return;
    }
    if (status < 0x80 || status >= 0xF0)
        return;
    const int channel = status & 0x0F;
    const int data1 = message.size() > 1 ? message[1] & 0x7F : 0;
    const int data2 = message.size() > 2 ? message[2] & 0x7F : 0;
    switch (status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth_, channel, data1);
        break;
    case 0x90:
        // Velocity 0 is a note-off; FluidSynth's note-on says so too.
        fluid_synth_noteon(synth_, channel, data1, data2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth_, channel, data1, data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth_, channel, data1, data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth_, channel, data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth_, channel, data1);
        break;
    default:  // 0xE0
        fluid_synth_pitch_bend(synth_, channel, data1 | data2 << 7);
        break;
    }
}

void FluidSoftSynth::render(float* left, float* right, std::size_t frames)
{
    fluid_synth_write_float(synth_, static_cast<int>(frames), left, 0, 1, right, 0, 1);
}

int FluidSoftSynth::program(int channel) const
{
    int font = 0;
    int bank = 0;
    int preset = 0;
    if (fluid_synth_get_program(synth_, channel, &font, &bank, &preset) != FLUID_OK)
        return -1;
    return preset;
}

}  // namespace sonrigo
