#include "CliVstInfo.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

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
    if (!plugin.load(path)) {
        out << "result: cannot be loaded\n";
        return 1;
    }
    const vst::AEffect* effect = plugin.effect();
    out << "entry point: " << entryPointName(plugin.entryPoint()) << '\n';
    out << "effect name: " << plugin.getEffectName() << '\n';
    out << "unique id: " << uniqueIdText(effect->uniqueID) << '\n';
    out << "version: " << effect->version << '\n';
    out << "programs: " << plugin.numPrograms() << '\n';
    out << "parameters: " << plugin.numParams() << '\n';
    out << "inputs: " << plugin.numInputs() << '\n';
    out << "outputs: " << plugin.numOutputs() << '\n';
    out << "flags: " << flagNames(effect->flags) << '\n';
    const std::int32_t programs = std::min(plugin.numPrograms(), kMaxListed);
    for (std::int32_t program = 0; program < programs; ++program)
        out << "program " << program << ": " << plugin.getProgramNameIndexed(program) << '\n';
    if (programs < plugin.numPrograms())
        out << "(" << plugin.numPrograms() - programs << " more programs)\n";
    for (std::int32_t param = 0; param < plugin.numParams(); ++param) {
        out << "parameter " << param << ": " << plugin.getParamName(param) << " = " << plugin.getParamDisplay(param);
        const std::string label = plugin.getParamLabel(param);
        out << (label.empty() ? "" : " ") << label << '\n';
    }
    plugin.close();
    out << "result: loaded\n";
    return 0;
}

}  // namespace sonrigo
