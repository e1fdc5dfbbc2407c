// A VST 2 instrument that does nothing but tell: it appends every call the
// host makes into it (and every answer the host gives to the questions it
// asks when opened) to the file named by SONRIGO_PROBE_LOG, one line each.
// Built several times from this one file; the compile definitions below pick
// what each build does wrong or differently.

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <stdexcept>

#include <unistd.h>

#include "vsthost/VstApi.h"

// Which entry points the library exports.
#ifndef PROBE_EXPORT_VSTPLUGINMAIN
#define PROBE_EXPORT_VSTPLUGINMAIN 1
#endif
#ifndef PROBE_EXPORT_MAIN
#define PROBE_EXPORT_MAIN 1
#endif
// The entry point returns null instead of an instance.
#ifndef PROBE_NULL_INSTANCE
#define PROBE_NULL_INSTANCE 0
#endif
#ifndef PROBE_MAGIC
#define PROBE_MAGIC 0x56737450
#endif
#ifndef PROBE_HAS_EDITOR
#define PROBE_HAS_EDITOR 1
#endif
// The editor rectangle; a width of 0 leaves effEditGetRect's pointer null.
#ifndef PROBE_RECT_WIDTH
#define PROBE_RECT_WIDTH 500
#endif
#ifndef PROBE_RECT_HEIGHT
#define PROBE_RECT_HEIGHT 300
#endif
#ifndef PROBE_CAN_REPLACING
#define PROBE_CAN_REPLACING 1
#endif
#ifndef PROBE_INPUTS
#define PROBE_INPUTS 2
#endif
#ifndef PROBE_OUTPUTS
#define PROBE_OUTPUTS 2
#endif
// Output channel k is filled with PROBE_OUTPUT_STEP * (k + 1), or, with
// PROBE_OUTPUT_FROM_PARAMS, with (parameter k - 0.5) * 4: a level the test
// sets, from -2 to 2.
#ifndef PROBE_OUTPUT_FROM_PARAMS
#define PROBE_OUTPUT_FROM_PARAMS 0
#endif
#ifndef PROBE_OUTPUT_STEP
#define PROBE_OUTPUT_STEP 0.25f
#endif
// Every name the host asks for is padded to this many bytes (the NUL
// included), whatever the buffer it was given; 0 writes the names alone.
#ifndef PROBE_NAME_BYTES
#define PROBE_NAME_BYTES 0
#endif
// The entry point calls a function no library defines, so that the loader
// refuses the library.
#ifndef PROBE_UNDEFINED_SYMBOL
#define PROBE_UNDEFINED_SYMBOL 0
#endif

// effProcessEvents keeps the events it was given instead of logging them, and
// processReplacing checks that they are still what they were: hosts must not
// touch them until the next process call has returned.
#ifndef PROBE_CHECK_EVENTS
#define PROBE_CHECK_EVENTS 0
#endif
// effSetProgram takes this long, as some plug-ins' program loading does.
#ifndef PROBE_SLOW_PROGRAM_MS
#define PROBE_SLOW_PROGRAM_MS 0
#endif

// A hostile plug-in: at PROBE_FAULT_AT (1 the library's constructor, 2
// effOpen, 3 processReplacing from block PROBE_FROM_BLOCK on, 4 effClose) it
// does PROBE_FAULT (1 crash on a bad address, 2 exit(0), 3 throw a C++
// exception, 4 never return, which only the end of the process stops).
#ifndef PROBE_FAULT_AT
#define PROBE_FAULT_AT 0
#endif
#ifndef PROBE_FAULT
#define PROBE_FAULT 1
#endif
// Garbage on every output from block PROBE_FROM_BLOCK on: 1 NaN, 2 a million.
#ifndef PROBE_GARBAGE
#define PROBE_GARBAGE 0
#endif
#ifndef PROBE_FROM_BLOCK
#define PROBE_FROM_BLOCK 0
#endif
// Writes this many frames more than it is asked for into every output.
#ifndef PROBE_WRITE_PAST
#define PROBE_WRITE_PAST 0
#endif

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

#if PROBE_UNDEFINED_SYMBOL
extern "C" void sonrigoProbeMissingFunction();
#endif

using namespace sonrigo::vst;

namespace {

constexpr VstInt32 kNumPrograms = 3;
constexpr VstInt32 kNumParams = 4;
constexpr std::size_t kLogPathSize = 4096;
constexpr VstInt32 kCheckedEvents = 1024;
// Longer than every limit the host sets, to see that it cuts them.
constexpr const char* kEffectName = "Sonrigo Probe Instrument With A Name Too Long For The Title";

struct Probe {
    AEffect effect;
    audioMasterCallback host;
    char logPath[kLogPathSize];
    ERect rect;
    VstInt32 program;
    float params[kNumParams];
    // PROBE_CHECK_EVENTS: what the last effProcessEvents was given.
    const VstEvents* givenEvents;
    VstInt32 givenCount;
    VstMidiEvent given[kCheckedEvents];
    VstInt32 blocks;  // processReplacing calls so far
};

__attribute__((format(printf, 2, 3))) void logLine(const Probe* probe, const char* format, ...)
{
    std::FILE* file = probe->logPath[0] != '\0' ? std::fopen(probe->logPath, "a") : nullptr;
    if (file == nullptr)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}

// Asks the host what it can do, as plug-ins do when they open, and logs its
// answers.
void askHost(Probe* probe)
{
    const auto canDo = [probe](void* ptr) {
        return static_cast<long>(probe->host(&probe->effect, audioMasterCanDo, 0, 0, ptr, 0.0f));
    };
    for (const char* question : {"sendVstEvents", "supplyIdle", "SupplyIdle", "supplyIdle "})
        logLine(probe, "host canDo '%s' %ld", question, canDo(const_cast<char*>(question)));
    logLine(probe, "host canDo null %ld", canDo(nullptr));
}

// Writes a name where the host said, as printf formats it.
__attribute__((format(printf, 2, 3))) void writeText(void* ptr, const char* format, ...)
{
    if (ptr == nullptr)
        return;
    char* out = static_cast<char*>(ptr);
    va_list args;
    va_start(args, format);
    std::vsnprintf(out, 128, format, args);
    va_end(args);
    constexpr std::size_t kNameBytes = PROBE_NAME_BYTES;
    const std::size_t length = std::strlen(out);
    if (length + 1 < kNameBytes) {
        std::memset(out + length, '.', kNameBytes - 1 - length);
        out[kNameBytes - 1] = '\0';
    }
}

// Does the plug-in's fault when `where` is where it is built to do it.
void faultAt(int where)
{
    if (PROBE_FAULT_AT != where)
        return;
    if (PROBE_FAULT == 2)
        std::exit(0);
    if (PROBE_FAULT == 3)
        throw std::runtime_error("the probe instrument throws");
    while (PROBE_FAULT == 4)
        ::sleep(3600);
    // Read at run time, so that the compiler cannot see the address is bad.
    static volatile std::uintptr_t badAddress = 8;
    *reinterpret_cast<volatile int*>(badAddress) = 1;
}

__attribute__((constructor)) void loaded()
{
    faultAt(1);
}

// The event pointers of a VstEvents, which declares room for two only.
VstEvent* const* slotsOf(const VstEvents* events)
{
    return reinterpret_cast<VstEvent* const*>(reinterpret_cast<const char*>(events) + offsetof(VstEvents, events));
}

VstIntPtr dispatcher(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    auto* probe = static_cast<Probe*>(effect->object);
    logLine(probe, "dispatch %d %d %ld %s %g", opcode, index, static_cast<long>(value), ptr != nullptr ? "ptr" : "null",
            static_cast<double>(opt));
    switch (opcode) {
    case effOpen:
        faultAt(2);
        askHost(probe);
        return 0;
    case effClose:
        faultAt(4);
        std::free(probe);
        return 0;
    case effSetProgram:
        if (PROBE_SLOW_PROGRAM_MS > 0) {
            const timespec pause{0, PROBE_SLOW_PROGRAM_MS * 1000000L};
            nanosleep(&pause, nullptr);
        }
        probe->program = static_cast<VstInt32>(value);
        return 0;
    case effGetProgram:
        return probe->program;
    case effGetProgramName:
        writeText(ptr, "Current program %d of the probe instrument", probe->program);
        return 0;
    case effGetProgramNameIndexed:
        if (index < 0 || index >= kNumPrograms)
            return 0;
        writeText(ptr, "Program %d of the probe instrument", index);
        return 1;
    case effGetParamName:
        writeText(ptr, "Parameter %d with a name longer than most", index);
        return 0;
    case effGetParamLabel:
        writeText(ptr, "dB");
        return 0;
    case effGetParamDisplay:
        writeText(ptr, "%.2f", index >= 0 && index < kNumParams ? probe->params[index] : -1.0);
        return 0;
    case effGetEffectName:
        writeText(ptr, "%s", kEffectName);
        return 1;
    case effProcessEvents: {
        const auto* events = static_cast<const VstEvents*>(ptr);
        VstEvent* const* slots = slotsOf(events);
        if (PROBE_CHECK_EVENTS) {
            probe->givenEvents = events;
            probe->givenCount = events->numEvents < kCheckedEvents ? events->numEvents : kCheckedEvents;
            for (VstInt32 i = 0; i < probe->givenCount; ++i)
                std::memcpy(&probe->given[i], slots[i], sizeof(VstMidiEvent));
            return 1;
        }
        for (VstInt32 i = 0; i < events->numEvents; ++i) {
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(slots[i]);
            logLine(probe, "event %d %d %02x %02x %02x", midi->type, midi->deltaFrames,
                    static_cast<unsigned char>(midi->midiData[0]), static_cast<unsigned char>(midi->midiData[1]),
                    static_cast<unsigned char>(midi->midiData[2]));
        }
        return 1;
    }
    case effEditOpen:
        logLine(probe, "editOpen window %lu display %ld", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(ptr)),
                static_cast<long>(value));
        // Plug-ins answer effEditOpen with anything; this one says "failed".
        return 0;
    case effEditGetRect:
        if (PROBE_RECT_WIDTH > 0 && ptr != nullptr)
            *static_cast<ERect**>(ptr) = &probe->rect;
        return PROBE_RECT_WIDTH > 0 ? 1 : 0;
    default:
        return 0;
    }
}

void processReplacing(AEffect* effect, float** inputs, float** outputs, VstInt32 frames)
{
    auto* probe = static_cast<Probe*>(effect->object);
    if (PROBE_CHECK_EVENTS && probe->givenEvents != nullptr) {
        // Long enough for a host that refills the events meanwhile to be caught at it.
        const timespec pause{0, 2000000L};
        nanosleep(&pause, nullptr);
        const VstEvents* events = probe->givenEvents;
        VstEvent* const* slots = slotsOf(events);
        bool intact = events->numEvents == probe->givenCount;
        for (VstInt32 i = 0; intact && i < probe->givenCount; ++i)
            intact = std::memcmp(&probe->given[i], slots[i], sizeof(VstMidiEvent)) == 0;
        logLine(probe, "events %s %d", intact ? "intact" : "changed", probe->givenCount);
        probe->givenEvents = nullptr;
        return;
    }
    logLine(probe, "process %s %s %d", inputs != nullptr ? "inputs" : "null", outputs != nullptr ? "outputs" : "null",
            frames);
    const bool late = probe->blocks++ >= PROBE_FROM_BLOCK;
    if (late)
        faultAt(3);
    const bool spoilt = PROBE_GARBAGE != 0 && late;
    const float garbage = PROBE_GARBAGE == 1 ? std::numeric_limits<float>::quiet_NaN() : 1.0e6f;
    for (VstInt32 channel = 0; channel < effect->numOutputs && outputs != nullptr; ++channel)
        for (VstInt32 frame = 0; frame < frames + PROBE_WRITE_PAST; ++frame)
            outputs[channel][frame] = spoilt ? garbage
                                      : PROBE_OUTPUT_FROM_PARAMS && channel < kNumParams
                                          ? (probe->params[channel] - 0.5f) * 4.0f
                                          : PROBE_OUTPUT_STEP * static_cast<float>(channel + 1);
}

void setParameter(AEffect* effect, VstInt32 index, float value)
{
    auto* probe = static_cast<Probe*>(effect->object);
    logLine(probe, "setParameter %d %g", index, static_cast<double>(value));
    if (index >= 0 && index < kNumParams)
        probe->params[index] = value;
}

// A record with the wrong magic is never handed back by the host, so it is
// never closed: it lives in static storage instead of leaking.
Probe rejectedProbe;

[[maybe_unused]] AEffect* createProbe(audioMasterCallback host)  // unused where no entry point is exported
{
#if PROBE_UNDEFINED_SYMBOL
    sonrigoProbeMissingFunction();
#endif
    if (PROBE_NULL_INSTANCE)
        return nullptr;
    Probe* probe = PROBE_MAGIC == kEffectMagic ? static_cast<Probe*>(std::calloc(1, sizeof(Probe))) : &rejectedProbe;
    if (probe == nullptr)
        return nullptr;
    std::memset(probe, 0, sizeof(Probe));
    const char* path = std::getenv("SONRIGO_PROBE_LOG");
    if (path != nullptr)
        std::strncpy(probe->logPath, path, kLogPathSize - 1);
    probe->host = host;
    probe->rect = ERect{10, 20, static_cast<std::int16_t>(10 + PROBE_RECT_HEIGHT),
                        static_cast<std::int16_t>(20 + PROBE_RECT_WIDTH)};
    AEffect& effect = probe->effect;
    effect.magic = PROBE_MAGIC;
    effect.dispatcher = &dispatcher;  // no process: hosts call processReplacing only
    effect.setParameter = &setParameter;
    effect.numPrograms = kNumPrograms;
    effect.numParams = kNumParams;
    effect.numInputs = PROBE_INPUTS;
    effect.numOutputs = PROBE_OUTPUTS;
    effect.flags = effFlagsIsSynth | (PROBE_HAS_EDITOR ? effFlagsHasEditor : 0) |
                   (PROBE_CAN_REPLACING ? effFlagsCanReplacing : 0);
    effect.object = probe;
    effect.uniqueID = 0x50726f62;  // 'Prob'
    effect.version = 1;
    effect.processReplacing = &processReplacing;
    return &effect;
}

}  // namespace

#if PROBE_EXPORT_VSTPLUGINMAIN
PROBE_EXPORT AEffect* VSTPluginMain(audioMasterCallback host)
{
    return createProbe(host);
}
#endif

#if PROBE_EXPORT_MAIN
// Older plug-ins export their entry point as "main"; C++ does not let a
// function of that name return a pointer, so the symbol is named directly.
PROBE_EXPORT AEffect* probeMain(audioMasterCallback host) __asm__("main");
AEffect* probeMain(audioMasterCallback host)
{
    return createProbe(host);
}
#endif
