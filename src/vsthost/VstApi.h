#pragma once

// The VST 2 plug-in interface as hosts and plug-ins share it: records, opcodes
// and flags under their published names and values, in the published binary
// layout (pointer-sized `value` and results, 32-bit `index`). Declared here so
// that neither the host nor the project's own plug-ins need anything else.
// Header-only and free of any dependency: plug-ins include it too.

#include <cstddef>
#include <cstdint>

namespace sonrigo::vst {

struct AEffect;

using VstIntPtr = std::intptr_t;
using VstInt32 = std::int32_t;

// How the plug-in asks the host things.
using audioMasterCallback = VstIntPtr (*)(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                          float opt);
using AEffectDispatcherProc = VstIntPtr (*)(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                            void* ptr, float opt);
using AEffectProcessProc = void (*)(AEffect* effect, float** inputs, float** outputs, VstInt32 sampleFrames);
using AEffectProcessDoubleProc = void (*)(AEffect* effect, double** inputs, double** outputs, VstInt32 sampleFrames);
using AEffectSetParameterProc = void (*)(AEffect* effect, VstInt32 index, float parameter);
using AEffectGetParameterProc = float (*)(AEffect* effect, VstInt32 index);
// The library's entry point ("VSTPluginMain", or "main" in older plug-ins).
using PluginEntryProc = AEffect* (*)(audioMasterCallback host);

inline constexpr VstInt32 kEffectMagic = 0x56737450;  // 'VstP'

struct AEffect {
    VstInt32 magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process;  // accumulating process, deprecated
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags;
    VstIntPtr resvd1;
    VstIntPtr resvd2;
    VstInt32 initialDelay;
    VstInt32 realQualities;
    VstInt32 offQualities;
    float ioRatio;
    void* object;
    void* user;
    VstInt32 uniqueID;
    VstInt32 version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
};

// AEffect::flags
inline constexpr VstInt32 effFlagsHasEditor = 1 << 0;
inline constexpr VstInt32 effFlagsCanReplacing = 1 << 4;
inline constexpr VstInt32 effFlagsProgramChunks = 1 << 5;
inline constexpr VstInt32 effFlagsIsSynth = 1 << 8;
inline constexpr VstInt32 effFlagsNoSoundInStop = 1 << 9;
inline constexpr VstInt32 effFlagsCanDoubleReplacing = 1 << 12;

// Host to plug-in (dispatcher opcodes).
enum AEffectOpcodes : VstInt32 {
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effSetProgramName = 4,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditIdle = 19,
    effGetChunk = 23,
    effSetChunk = 24,
    effProcessEvents = 25,
    effCanBeAutomated = 26,
    effGetProgramNameIndexed = 29,
    effGetPlugCategory = 35,
    effGetEffectName = 45,
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effCanDo = 51,
    effGetVstVersion = 58,
};

// Plug-in to host (host callback opcodes).
enum AudioMasterOpcodes : VstInt32 {
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterCurrentId = 2,
    audioMasterIdle = 3,
    audioMasterGetTime = 7,
    audioMasterProcessEvents = 8,
    audioMasterIOChanged = 13,
    audioMasterSizeWindow = 15,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetCurrentProcessLevel = 23,
    audioMasterGetVendorString = 32,
    audioMasterGetProductString = 33,
    audioMasterGetVendorVersion = 34,
    audioMasterCanDo = 37,
    audioMasterGetLanguage = 38,
    audioMasterUpdateDisplay = 42,
    audioMasterBeginEdit = 43,
    audioMasterEndEdit = 44,
};

inline constexpr VstInt32 kVstLangEnglish = 1;
inline constexpr VstInt32 kVstLangJapanese = 6;

// String buffer sizes the interface fixes (each plus the terminator).
inline constexpr std::size_t kVstMaxProgNameLen = 24;
inline constexpr std::size_t kVstMaxParamStrLen = 8;
inline constexpr std::size_t kVstMaxEffectNameLen = 32;

inline constexpr VstInt32 kVstMidiType = 1;
inline constexpr VstInt32 kVstSysExType = 6;

struct VstEvent {
    VstInt32 type;
    VstInt32 byteSize;
    VstInt32 deltaFrames;
    VstInt32 flags;
    char data[16];
};

struct VstMidiEvent {
    VstInt32 type;         // kVstMidiType
    VstInt32 byteSize;     // sizeof(VstMidiEvent)
    VstInt32 deltaFrames;  // frames into the next block
    VstInt32 flags;
    VstInt32 noteLength;
    VstInt32 noteOffset;
    char midiData[4];  // 1 to 3 MIDI bytes, the rest zero
    char detune;
    char noteOffVelocity;
    char reserved1;
    char reserved2;
};

// A channel message as a host hands it over: three bytes, the rest zero.
inline VstMidiEvent MakeMidiEvent(std::uint8_t status, std::uint8_t data1, std::uint8_t data2, VstInt32 deltaFrames = 0)
{
    VstMidiEvent event{};
    event.type = kVstMidiType;
    event.byteSize = sizeof(VstMidiEvent);
    event.deltaFrames = deltaFrames;
    event.midiData[0] = static_cast<char>(status);
    event.midiData[1] = static_cast<char>(data1);
    event.midiData[2] = static_cast<char>(data2);
    return event;
}

// The events for one block: numEvents, a pointer-sized reserved field, then
// the event pointers (the published record declares two; hosts allocate room
// for as many as they send).
struct VstEvents {
    VstInt32 numEvents;
    VstIntPtr reserved;
    VstEvent* events[2];
};

struct ERect {
    std::int16_t top;
    std::int16_t left;
    std::int16_t bottom;
    std::int16_t right;
};

static_assert(sizeof(VstMidiEvent) == 32, "VstMidiEvent is 32 bytes in every build");
static_assert(sizeof(VstEvent) == 32, "VstEvent is 32 bytes in every build");
static_assert(sizeof(ERect) == 8, "ERect is four 16-bit values");
static_assert(sizeof(void*) != 8 || sizeof(AEffect) == 192, "AEffect has the published 64-bit size");
static_assert(sizeof(void*) != 8 || offsetof(AEffect, processReplacing) == 120, "processReplacing follows version");
static_assert(sizeof(void*) != 8 || offsetof(VstEvents, events) == 16, "VstEvents has a pointer-sized reserved field");

}  // namespace sonrigo::vst
