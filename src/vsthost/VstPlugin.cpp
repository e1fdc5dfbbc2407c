#include "vsthost/VstPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>

#include "common/MessageSink.h"
#include "platform/DynamicLibrary.h"
#include "vsthost/EditorHost.h"
#include "vsthost/EditorSession.h"
#include "vsthost/HostCallback.h"

namespace sonrigo {
namespace {

constexpr const char* kLoadFailedText = "プラグインのロードに失敗しました。";
constexpr const char* kNoEntryText = "プラグインのエントリ取得に失敗しました。";
constexpr const char* kNoInstanceText = "インスタンスの生成に失敗しました。";
constexpr const char* kNotVstText = "VSTプラグインではありません。";

// Text limits, each plus the terminator: parameter strings get 31 characters
// (the interface's 8 is too short for most plug-ins), program names 24,
// effect names 32.
constexpr std::size_t kParamTextSize = 32;
constexpr std::size_t kProgramNameSize = vst::kVstMaxProgNameLen + 1;
constexpr std::size_t kEffectNameSize = vst::kVstMaxEffectNameLen + 1;
// What the plug-in may actually write into: many plug-ins ignore the limits
// above (program names of 32 or 64 characters are common, and some write far
// more), so the buffer is much larger and the text is cut afterwards.
constexpr std::size_t kScratchSize = 1024;

vst::VstIntPtr dispatch(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index = 0, vst::VstIntPtr value = 0,
                        void* ptr = nullptr, float opt = 0.0f)
{
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

// Asks the plug-in for a text: a zeroed buffer, the text up to the first NUL,
// at most size - 1 characters. Empty without an instance.
std::string askText(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index, std::size_t size)
{
    if (effect == nullptr)
        return {};
    char buffer[kScratchSize] = {};
    dispatch(effect, opcode, index, 0, buffer);
    buffer[size - 1] = '\0';
    return buffer;
}

template <typename Function>
Function symbolAs(const DynamicLibrary& library, const char* name)
{
    return reinterpret_cast<Function>(library.symbol(name));
}

// After each channel's block lie kGuardFrames frames holding kGuardValue: a
// plug-in that writes past its block overwrites them instead of the heap,
// and a trial sees that it did.
constexpr float kGuardValue = -1.0e30f;

// Points each of count pointers at its own blockSize floats in storage, each
// followed by its guard. Returns null for no buffers.
float** makeBuffers(std::vector<float>& storage, std::vector<float*>& pointers, std::int32_t count,
                    std::int32_t blockSize)
{
    if (count <= 0)
        return nullptr;
    const auto frames = static_cast<std::size_t>(blockSize);
    const std::size_t stride = frames + VstPlugin::kGuardFrames;
    storage.assign(static_cast<std::size_t>(count) * stride, 0.0f);
    pointers.resize(static_cast<std::size_t>(count));
    for (std::size_t channel = 0; channel < pointers.size(); ++channel) {
        pointers[channel] = storage.data() + channel * stride;
        std::fill_n(pointers[channel] + frames, VstPlugin::kGuardFrames, kGuardValue);
    }
    return pointers.data();
}

bool guardsIntact(const std::vector<float*>& pointers, std::int32_t blockSize)
{
    return std::all_of(pointers.begin(), pointers.end(), [blockSize](const float* channel) {
        const float* guard = channel + blockSize;
        return std::all_of(guard, guard + VstPlugin::kGuardFrames, [](float x) { return x == kGuardValue; });
    });
}

}  // namespace

VstPlugin::VstPlugin(float sampleRate, std::int32_t blockSize, std::int32_t maxEvents)
    : blockSize_(std::max(blockSize, 0)), sampleRate_(sampleRate), events_(maxEvents)
{
}

VstPlugin::~VstPlugin()
{
    *alive_ = false;
    if (library_)
        close();
}

bool VstPlugin::load(const std::string& path)
{
    if (library_)
        close();
    library_ = std::make_unique<DynamicLibrary>();
    const DynamicLibrary::OpenResult opened = library_->open(path);
    if (!opened.ok) {
        ShowMessage(std::string(kLoadFailedText) + "\n" + opened.error);
        return false;
    }

    EntryPoint entryPoint = EntryPoint::VSTPluginMain;
    auto entry = symbolAs<vst::PluginEntryProc>(*library_, "VSTPluginMain");
    if (entry == nullptr) {
        entryPoint = EntryPoint::Main;
        entry = symbolAs<vst::PluginEntryProc>(*library_, "main");
    }
    if (entry == nullptr) {
        ShowMessage(kNoEntryText);
        return false;
    }
    entryPoint_ = entryPoint;

    vst::AEffect* instance = entry(&hostCallback);
    if (instance == nullptr) {
        ShowMessage(kNoInstanceText);
        return false;
    }
    // A record without a dispatcher cannot be talked to either.
    if (instance->magic != vst::kEffectMagic || instance->dispatcher == nullptr) {
        ShowMessage(kNotVstText);
        return false;
    }

    effect_ = instance;
    dispatch(effect_, vst::effOpen);
    dispatch(effect_, vst::effSetSampleRate, 0, 0, nullptr, sampleRate_);
    dispatch(effect_, vst::effSetBlockSize, 0, blockSize_);

    numPrograms_ = effect_->numPrograms;
    numParams_ = effect_->numParams;
    claimedInputs_ = effect_->numInputs;
    claimedOutputs_ = effect_->numOutputs;
    badBlocks_ = 0;
    muted_ = false;
    const bool believable = claimedInputs_ <= kMostChannels && claimedOutputs_ <= kMostChannels;
    numInputs_ = believable ? std::max(claimedInputs_, 0) : 0;
    numOutputs_ = believable ? std::max(claimedOutputs_, 0) : 0;
    try {
        inputs_ = makeBuffers(inputStorage_, inputPointers_, numInputs_, blockSize_);
        outputs_ = makeBuffers(outputStorage_, outputPointers_, numOutputs_, blockSize_);
        // A plug-in claiming absurd channel counts stays loaded but is never
        // asked to process, so it adds silence.
        canReplacing_ = believable && (effect_->flags & vst::effFlagsCanReplacing) != 0 &&
                        effect_->processReplacing != nullptr;
    } catch (const std::bad_alloc&) {
        freeBuffers();
        numInputs_ = 0;
        numOutputs_ = 0;
    }
    return true;
}

void VstPlugin::freeBuffers()
{
    canReplacing_ = false;
    inputs_ = nullptr;
    outputs_ = nullptr;
    inputStorage_ = {};
    outputStorage_ = {};
    inputPointers_ = {};
    outputPointers_ = {};
}

void VstPlugin::close()
{
    // The editor goes before the instance it belongs to.
    closeEditor();
    freeBuffers();
    if (effect_ != nullptr) {
        dispatch(effect_, vst::effClose);
        effect_ = nullptr;
    }
    events_.clear();
    library_.reset();
}

void VstPlugin::resume()
{
    if (effect_ != nullptr)
        dispatch(effect_, vst::effMainsChanged, 0, 1);
}

void VstPlugin::suspend()
{
    if (effect_ != nullptr)
        dispatch(effect_, vst::effMainsChanged, 0, 0);
}

void VstPlugin::addEvent(const vst::VstMidiEvent& event)
{
    events_.add(event);
}

void VstPlugin::keepEvent(std::uint8_t status, std::uint8_t data1, std::uint8_t data2)
{
    events_.keep(status, data1, data2);
}

void VstPlugin::handOverEvents(std::int32_t frames)
{
    events_.handOver(frames);
}

void VstPlugin::flushEvents()
{
    vst::VstEvents* handed = events_.handed();
    if (effect_ == nullptr || handed == nullptr || muted_)
        return;
    dispatch(effect_, vst::effProcessEvents, 0, 0, handed);
}

void VstPlugin::discardEvents()
{
    events_.clear();
}

void VstPlugin::process(std::int32_t frames)
{
    if (effect_ == nullptr || !canReplacing_ || muted_)
        return;
    // The buffers hold blockSize frames; never ask a plug-in for more.
    frames = std::min(frames, blockSize_);
    if (frames <= 0)
        return;
    effect_->processReplacing(effect_, inputs_, outputs_, frames);
}

bool VstPlugin::outputsSound(std::int32_t frames) const
{
    if (outputs_ == nullptr)
        return true;
    const std::int32_t count = std::clamp(frames, 0, blockSize_);
    for (std::int32_t c = 0; c < numOutputs_; ++c) {
        const float* samples = outputs_[c];
        // Not (|x| <= limit) is also true for NaN; no early exit, so that
        // the loop vectorises.
        bool bad = false;
        for (std::int32_t i = 0; i < count; ++i)
            bad |= !(std::fabs(samples[i]) <= kMostSample);
        if (bad)
            return false;
    }
    return true;
}

bool VstPlugin::countBadBlock()
{
    if (muted_ || ++badBlocks_ < kBadBlocksBeforeMute)
        return false;
    muted_ = true;
    for (float* channel : outputPointers_)
        std::fill_n(channel, blockSize_, 0.0f);
    return true;
}

bool VstPlugin::stayedInBlocks() const
{
    return guardsIntact(inputPointers_, blockSize_) && guardsIntact(outputPointers_, blockSize_);
}

std::string VstPlugin::silenceReason() const
{
    if (effect_ == nullptr)
        return {};
    if (claimedOutputs_ > kMostChannels || claimedInputs_ > kMostChannels)
        return "it claims " + std::to_string(claimedInputs_) + " audio inputs and " + std::to_string(claimedOutputs_) +
               " audio outputs, more than any instrument has";
    if (claimedOutputs_ <= 0)
        return "it has no audio outputs";
    if (!canReplacing_)
        return "it does not offer processReplacing, the only way it could be asked for sound";
    return {};
}

std::string VstPlugin::getParamName(std::int32_t index)
{
    return askText(effect_, vst::effGetParamName, index, kParamTextSize);
}

std::string VstPlugin::getParamLabel(std::int32_t index)
{
    return askText(effect_, vst::effGetParamLabel, index, kParamTextSize);
}

std::string VstPlugin::getParamDisplay(std::int32_t index)
{
    return askText(effect_, vst::effGetParamDisplay, index, kParamTextSize);
}

void VstPlugin::setParameter(std::int32_t index, float value)
{
    if (effect_ == nullptr || index < 0 || index >= numParams_ || effect_->setParameter == nullptr)
        return;
    effect_->setParameter(effect_, index, value);
}

std::string VstPlugin::getProgramName()
{
    return askText(effect_, vst::effGetProgramName, 0, kProgramNameSize);
}

std::string VstPlugin::getProgramNameIndexed(std::int32_t index)
{
    return askText(effect_, vst::effGetProgramNameIndexed, index, kProgramNameSize);
}

std::int32_t VstPlugin::getProgram()
{
    if (effect_ == nullptr)
        return 0;
    return static_cast<std::int32_t>(dispatch(effect_, vst::effGetProgram));
}

void VstPlugin::setProgram(std::int32_t program)
{
    if (effect_ != nullptr)
        dispatch(effect_, vst::effSetProgram, 0, program);
}

std::string VstPlugin::getEffectName()
{
    return askText(effect_, vst::effGetEffectName, 0, kEffectNameSize);
}

void VstPlugin::openEditor()
{
    std::shared_ptr<EditorHost> host = CurrentEditorHost();
    if (!host || effect_ == nullptr || (effect_->flags & vst::effFlagsHasEditor) == 0 || editorSession_ != nullptr)
        return;
    EditorSession session(*this);
    editorSession_ = &session;
    editorHost_ = host;
    const std::shared_ptr<bool> alive = alive_;
    host->runModal(session);
    // The modal loop runs the whole program: the owner may have removed this
    // plug-in meanwhile (closing the editor first), and then nothing of it
    // may be touched.
    if (!*alive)
        return;
    // A host that returned without closing the session still must not leave
    // the plug-in's editor open.
    session.close();
    editorSession_ = nullptr;
    editorHost_.reset();
}

void VstPlugin::closeEditor()
{
    EditorSession* session = editorSession_;
    if (session == nullptr)
        return;
    if (editorHost_)
        editorHost_->closeWindow(*session);
    // The plug-in's editor must be closed when this returns, whatever the host did.
    session->close();
}

}  // namespace sonrigo
