#include "CliVstInfo.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ostream>

#include "vsthost/PluginProbe.h"
#include "vsthost/VstApi.h"
#include "vsthost/VstPlugin.h"

namespace sonrigo {
namespace {

// The rack's settings, so that the plug-in sees what it sees in the player.
constexpr float kSampleRate = 44100.0f;
constexpr std::int32_t kBlockSize = 882;
constexpr std::int32_t kMaxEvents = 16;
// Some instruments come with thousands of programs (amsynth has 3712); the
// first bank's worth tells enough.
constexpr std::int32_t kMaxListed = 128;
// What a name may take, as the player shows it (the terminator excluded):
// parameter texts get 31 characters, the interface's 8 being too short for
// most plug-ins.
constexpr std::size_t kParamTextLength = 31;
// The buffer a plug-in writes a name into: plug-ins ignore the limits above,
// some by far, so it is much larger and the text is cut afterwards.
constexpr std::size_t kNameBufferSize = 4096;

// Asks the plug-in for a text into a zeroed buffer of its own; the text up to
// the first NUL, at most `limit` characters.
std::string AskText(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index, std::size_t limit)
{
    std::array<char, kNameBufferSize> buffer{};
    effect->dispatcher(effect, opcode, index, 0, buffer.data(), 0.0f);
    buffer[std::min(limit, buffer.size() - 1)] = '\0';
    return buffer.data();
}

const char* entryPointName(VstPlugin::EntryPoint entry)
{
    switch (entry) {
    case VstPlugin::EntryPoint::VSTPluginMain:
        return "VSTPluginMain";
    case VstPlugin::EntryPoint::Main:
        return "main";
    case VstPlugin::EntryPoint::None:
        break;
    }
    return "none";
}

std::string flagNames(vst::VstInt32 flags)
{
    struct Flag {
        vst::VstInt32 bit;
        const char* name;
    };
    constexpr Flag kFlags[] = {{vst::effFlagsHasEditor, "HasEditor"},
                               {vst::effFlagsCanReplacing, "CanReplacing"},
                               {vst::effFlagsProgramChunks, "ProgramChunks"},
                               {vst::effFlagsIsSynth, "IsSynth"},
                               {vst::effFlagsNoSoundInStop, "NoSoundInStop"},
                               {vst::effFlagsCanDoubleReplacing, "CanDoubleReplacing"}};
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(flags));
    std::string text = hex;
    vst::VstInt32 known = 0;
    for (const Flag& flag : kFlags) {
        known |= flag.bit;
        if ((flags & flag.bit) != 0)
            text += std::string(" ") + flag.name;
    }
    if ((flags & ~known) != 0)
        text += " (and others)";
    return text;
}

// A unique id is four characters when they are printable, a number otherwise.
std::string uniqueIdText(vst::VstInt32 id)
{
    std::string chars;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<char>((static_cast<std::uint32_t>(id) >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E)
            return std::to_string(id);
        chars += c;
    }
    return "'" + chars + "' (" + std::to_string(id) + ")";
}

}  // namespace

int RunVstInfo(const std::string& path, std::ostream& out)
{
    out << "file: " << path << '\n';
    VstPlugin plugin(kSampleRate, kBlockSize, kMaxEvents);
    if (!PluginProbe::Admits(path) || !plugin.load(path)) {
        out << "result: cannot be loaded\n";
        return 1;
    }
    vst::AEffect* const effect = plugin.effect();
    out << "entry point: " << entryPointName(plugin.entryPoint()) << '\n';
    out << "effect name: " << AskText(effect, vst::effGetEffectName, 0, vst::kVstMaxEffectNameLen) << '\n';
    out << "unique id: " << uniqueIdText(effect->uniqueID) << '\n';
    out << "version: " << effect->version << '\n';
    out << "programs: " << plugin.numPrograms() << '\n';
    out << "parameters: " << plugin.numParams() << '\n';
    out << "inputs: " << plugin.numInputs() << '\n';
    out << "outputs: " << plugin.numOutputs() << '\n';
    out << "flags: " << flagNames(effect->flags) << '\n';
    if (const std::string reason = plugin.silenceReason(); !reason.empty())
        out << "sound: none: " << reason << '\n';
    const std::int32_t programs = std::min(plugin.numPrograms(), kMaxListed);
    for (std::int32_t program = 0; program < programs; ++program)
        out << "program " << program << ": "
            << AskText(effect, vst::effGetProgramNameIndexed, program, vst::kVstMaxProgNameLen) << '\n';
    if (programs < plugin.numPrograms())
        out << "(" << plugin.numPrograms() - programs << " more programs)\n";
    for (std::int32_t param = 0; param < plugin.numParams(); ++param) {
        out << "parameter " << param << ": " << AskText(effect, vst::effGetParamName, param, kParamTextLength) << " = "
            << AskText(effect, vst::effGetParamDisplay, param, kParamTextLength);
        const std::string label = AskText(effect, vst::effGetParamLabel, param, kParamTextLength);
        out << (label.empty() ? "" : " ") << label << '\n';
    }
    plugin.close();
    out << "result: loaded\n";
    return 0;
}

}  // namespace sonrigo
