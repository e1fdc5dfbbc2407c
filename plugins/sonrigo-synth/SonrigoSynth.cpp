// The VST 2 face of the synth: the entry point, the AEffect record and the
// dispatcher. The sound lives in SynthEngine, the programs in SynthPrograms,
// the window in SynthEditor.

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "SynthEditor.h"
#include "SynthEngine.h"
#include "SynthPrograms.h"
#include "vsthost/VstApi.h"

namespace sonrigo::synth {

namespace {

using namespace sonrigo::vst;

constexpr VstInt32 kUniqueId = 0x536E5379;  // 'SnSy'
constexpr VstInt32 kVendorVersion = 1000;
constexpr VstInt32 kVstVersion = 2400;
constexpr int kOutputs = 2;
// Longest vendor and product strings the interface allows.
constexpr std::size_t kVstMaxVendorStrLen = 64;
// The accumulating process() renders through this buffer; longer blocks are
// rendered in pieces.
constexpr int kAccumulateFrames = 4096;

// One instance. The AEffect the host holds is a member, so effClose deletes
// the whole instance through it.
struct SynthPlugin {
    SynthPlugin();

    AEffect effect{};
    SynthPrograms programs;
    SynthEngine engine{programs};
    SynthEditor editor{programs, engine.meter()};
    std::array<float, kAccumulateFrames> scratch{};
};

SynthPlugin* Instance(AEffect* effect)
{
    return effect != nullptr ? static_cast<SynthPlugin*>(effect->object) : nullptr;
}

// Copies text into a host buffer of maxLength characters plus the terminator.
void CopyText(void* dest, const char* text, std::size_t maxLength)
{
    if (dest == nullptr)
        return;
    char* out = static_cast<char*>(dest);
    const std::size_t length = ::strnlen(text, maxLength);
    std::memcpy(out, text, length);
    out[length] = '\0';
}

VstIntPtr ProcessEvents(SynthPlugin& plugin, const VstEvents* events)
{
    if (events == nullptr)
        return 0;
    // Hosts allocate room for numEvents pointers behind the two the record declares.
    VstEvent* const* list = events->events;
    for (VstInt32 i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        if (event == nullptr || event->type != kVstMidiType)
            continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        plugin.engine.queueMidi(midi->deltaFrames, static_cast<std::uint8_t>(midi->midiData[0]),
                                static_cast<std::uint8_t>(midi->midiData[1]),
                                static_cast<std::uint8_t>(midi->midiData[2]));
    }
    return 1;
}

VstIntPtr CanDo(const char* what)
{
    if (what == nullptr)
        return 0;
    if (std::strcmp(what, "receiveVstEvents") == 0 || std::strcmp(what, "receiveVstMidiEvent") == 0)
        return 1;
    return 0;  // "don't know", which hosts treat as no
}

VstIntPtr Dispatch(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
    SynthPlugin* plugin = Instance(effect);
    if (plugin == nullptr)
        return 0;
    switch (opcode) {
    case effOpen:
        return 0;
    case effClose:
        delete plugin;
        return 1;
    case effSetProgram:
        plugin->programs.select(static_cast<int>(value));
        return 0;
    case effGetProgram:
        return plugin->programs.current();
    case effSetProgramName:
        if (ptr != nullptr)
            plugin->programs.rename(plugin->programs.current(), static_cast<const char*>(ptr));
        return 0;
    case effGetProgramName:
        CopyText(ptr, plugin->programs.name(plugin->programs.current()).c_str(), kVstMaxProgNameLen);
        return 0;
    case effGetProgramNameIndexed:
        if (index < 0 || index >= SynthPrograms::count())
            return 0;
        CopyText(ptr, plugin->programs.name(index).c_str(), kVstMaxProgNameLen);
        return 1;
    case effGetParamLabel:
        CopyText(ptr, ParamLabel(index), kVstMaxParamStrLen);
        return 0;
    case effGetParamDisplay:
        if (ptr != nullptr)
            FormatParamDisplay(index, plugin->programs.param(index), static_cast<char*>(ptr), kVstMaxParamStrLen + 1);
        return 0;
    case effGetParamName:
        CopyText(ptr, ParamName(index), kVstMaxParamStrLen);
        return 0;
    case effCanBeAutomated:
        return index >= 0 && index < kParamCount ? 1 : 0;
    case effSetSampleRate:
        plugin->engine.setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        return 0;  // any block length renders without reallocating
    case effMainsChanged:
        if (value != 0)
            plugin->engine.requestReset();
        return 0;
    case effEditGetRect:
        if (ptr == nullptr)
            return 0;
        *static_cast<ERect**>(ptr) = plugin->editor.rect();
        return 1;
    case effEditOpen:
        return plugin->editor.open(ptr, reinterpret_cast<void*>(value)) ? 1 : 0;
    case effEditClose:
        plugin->editor.close();
        return 1;
    case effEditIdle:
        plugin->editor.idle();
        return 1;
    case effProcessEvents:
        return ProcessEvents(*plugin, static_cast<const VstEvents*>(ptr));
    case effGetEffectName:
        CopyText(ptr, "Sonrigo Synth", kVstMaxEffectNameLen);
        return 1;
    case effGetVendorString:
        CopyText(ptr, "Sonrigo", kVstMaxVendorStrLen);
        return 1;
    case effGetProductString:
        CopyText(ptr, "Sonrigo Synth", kVstMaxVendorStrLen);
        return 1;
    case effGetVendorVersion:
        return kVendorVersion;
    case effCanDo:
        return CanDo(static_cast<const char*>(ptr));
    case effGetVstVersion:
        return kVstVersion;
    default:
        return 0;
    }
}

void ProcessReplacing(AEffect* effect, float** /*inputs*/, float** outputs, VstInt32 frames)
{
    if (SynthPlugin* plugin = Instance(effect))
        plugin->engine.render(outputs, kOutputs, frames);
}

// The deprecated accumulating form, for hosts that still call it.
void ProcessAccumulating(AEffect* effect, float** /*inputs*/, float** outputs, VstInt32 frames)
{
    SynthPlugin* plugin = Instance(effect);
    if (plugin == nullptr || outputs == nullptr)
        return;
    for (VstInt32 done = 0; done < frames;) {
        const int chunk = std::min(frames - done, kAccumulateFrames);
        float* scratch = plugin->scratch.data();
        plugin->engine.render(&scratch, 1, chunk);
        for (int c = 0; c < kOutputs; ++c) {
            if (outputs[c] == nullptr)
                continue;
            float* out = outputs[c] + done;
            for (int i = 0; i < chunk; ++i)
                out[i] += scratch[i];
        }
        done += chunk;
    }
}

void SetParameter(AEffect* effect, VstInt32 index, float value)
{
    if (SynthPlugin* plugin = Instance(effect))
        plugin->programs.setParam(index, value);
}

float GetParameter(AEffect* effect, VstInt32 index)
{
    SynthPlugin* plugin = Instance(effect);
    return plugin != nullptr ? plugin->programs.param(index) : 0.0f;
}

SynthPlugin::SynthPlugin()
{
    effect.magic = kEffectMagic;
    effect.dispatcher = &Dispatch;
    effect.process = &ProcessAccumulating;
    effect.setParameter = &SetParameter;
    effect.getParameter = &GetParameter;
    effect.numPrograms = SynthPrograms::count();
    effect.numParams = kParamCount;
    effect.numInputs = 0;
    effect.numOutputs = kOutputs;
    effect.flags = effFlagsIsSynth | effFlagsCanReplacing | effFlagsHasEditor;
    effect.ioRatio = 1.0f;
    effect.object = this;
    effect.uniqueID = kUniqueId;
    effect.version = kVendorVersion;
    effect.processReplacing = &ProcessReplacing;
}

AEffect* CreateInstance()
{
    auto* plugin = new (std::nothrow) SynthPlugin();
    return plugin != nullptr ? &plugin->effect : nullptr;
}

}  // namespace

}  // namespace sonrigo::synth

// The entry points, the only symbols the library exports. The host callback
// is not needed: the synth asks the host nothing.
extern "C" __attribute__((visibility("default"))) sonrigo::vst::AEffect* VSTPluginMain(
    sonrigo::vst::audioMasterCallback /*host*/)
{
    return sonrigo::synth::CreateInstance();
}

// Older hosts look for "main"; a C++ function cannot carry that name, so the
// symbol is given by an assembler label.
extern "C" __attribute__((visibility("default"))) sonrigo::vst::AEffect* SonrigoSynthMain(
    sonrigo::vst::audioMasterCallback host) __asm__("main");

sonrigo::vst::AEffect* SonrigoSynthMain(sonrigo::vst::audioMasterCallback host)
{
    return VSTPluginMain(host);
}
