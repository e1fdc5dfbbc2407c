#include "vsthost/HostCallback.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace sonrigo {
namespace {

constexpr vst::VstIntPtr kHostVersion = 2400;  // VST 2.4

// What the host does, in the exact spelling plug-ins ask for it.
constexpr const char* kCapabilities[] = {"sendVstEvents", "sendVstMidiEvent", "supplyIdle"};

bool canDo(const void* ptr)
{
    if (ptr == nullptr)
        return false;
    const char* asked = static_cast<const char*>(ptr);
    for (const char* capability : kCapabilities)
        if (std::strcmp(asked, capability) == 0)
            return true;
    return false;
}

}  // namespace

vst::VstIntPtr hostCallback(vst::AEffect* /*effect*/, vst::VstInt32 opcode, vst::VstInt32 /*index*/,
                            vst::VstIntPtr /*value*/, void* ptr, float /*opt*/)
{
    switch (opcode) {
    case vst::audioMasterVersion:
        return kHostVersion;
    case vst::audioMasterIdle:
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    case vst::audioMasterCanDo:
        return canDo(ptr) ? 1 : 0;
    case vst::audioMasterGetLanguage:
        return vst::kVstLangJapanese;
    default:
        // Time information, sample rate, block size, window resizing, events
        // and automation sent back: none of it is supported.
        return 0;
    }
}

}  // namespace sonrigo
