#pragma once

#include "vsthost/VstApi.h"

namespace sonrigo {

// The host callback every plug-in receives through its entry point. It keeps
// no state and looks only at the opcode (and, for canDo, the string): the
// host speaks VST 2.4, sends MIDI events, supplies idle time and speaks
// Japanese; every other question is answered with 0. Safe from any thread;
// only audioMasterIdle blocks, for 1 ms.
vst::VstIntPtr hostCallback(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index, vst::VstIntPtr value,
                            void* ptr, float opt);

}  // namespace sonrigo
