#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vsthost/BlockEvents.h"
#include "vsthost/VstApi.h"

namespace sonrigo {

class DynamicLibrary;
class EditorHost;
class EditorSession;

// One VST 2 instrument loaded from a shared library: the library, the
// plug-in's instance, the buffers it renders into, the events waiting for its
// next block and, while it is open, its editor window. Every call into the
// plug-in goes through this class.
//
// Threads: load, close, resume, suspend, the name getters and openEditor run
// on the user-interface thread; addEvent and keepEvent in the sequencer's
// timer callback; handOverEvents, flushEvents and process on the render
// thread. The owner keeps addEvent, keepEvent and handOverEvents from
// interleaving (the rack does it with its lock); flushEvents and process need
// no lock. setProgram, getProgram and getProgramName also run from the timer
// callback. Load and close only while nothing renders.
class VstPlugin {
public:
    // Which entry point load used.
    enum class EntryPoint { None, VSTPluginMain, Main };

    // More audio channels than any instrument has: a count beyond it is a
    // broken plug-in, given no buffers and never asked to process.
    static constexpr std::int32_t kMostChannels = 256;
    // Samples beyond this (or not finite) are garbage, not loud music.
    static constexpr float kMostSample = 1000.0f;
    // Blocks of garbage after which the plug-in is muted.
    static constexpr std::int32_t kBadBlocksBeforeMute = 4;
    // Spare frames after each buffer's block, which a plug-in that writes
    // past its block fills instead of the heap.
    static constexpr std::size_t kGuardFrames = 1024;

    // maxEvents: the most events one block hands the plug-in (see BlockEvents).
    VstPlugin(float sampleRate, std::int32_t blockSize, std::int32_t maxEvents);
    virtual ~VstPlugin();
    VstPlugin(const VstPlugin&) = delete;
    VstPlugin& operator=(const VstPlugin&) = delete;

    // Loads and opens the plug-in (not resumed); shows the failure's message
    // and returns false when it cannot. A failed load keeps the library until
    // close or the destructor.
    bool load(const std::string& path);
    // Closes the editor, frees the buffers, closes the instance, frees the library.
    void close();
    void resume();
    void suspend();

    // Queues a copy of the event for the next block; beyond maxEvents a
    // note-off or controller waits for the block after, a note-on is dropped.
    void addEvent(const vst::VstMidiEvent& event);
    // Keeps a note-off or controller for the next block, at its start;
    // drops anything else.
    void keepEvent(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    // The events queued so far become the next block's (offsets kept inside
    // its `frames`); they stay untouched until the next hand-over.
    void handOverEvents(std::int32_t frames);
    // effProcessEvents with the events handed over last, when there are any.
    void flushEvents();
    // Forgets the queued events without handing them to the plug-in.
    void discardEvents();
    // processReplacing into the output buffers; nothing once muted.
    void process(std::int32_t frames);

    // Whether the outputs' first `frames` samples are all finite and within
    // kMostSample (true without outputs).
    bool outputsSound(std::int32_t frames) const;
    // Counts a block whose samples were garbage (render thread); true once,
    // for the block that mutes the plug-in: it is then never asked to
    // process again, until it is loaded again.
    bool countBadBlock();
    bool muted() const { return muted_; }
    // False once the plug-in has written past the blocks of its buffers
    // (into their spare frames).
    bool stayedInBlocks() const;
    // Why this plug-in can never be heard (no outputs, an absurd channel
    // count, no processReplacing), or "" when it can; after load.
    std::string silenceReason() const;

    // The texts are cut to 31 characters (parameter strings), 24 (program
    // names) and 32 (effect name); empty without an instance.
    std::string getParamName(std::int32_t index);
    std::string getParamLabel(std::int32_t index);
    std::string getParamDisplay(std::int32_t index);
    void setParameter(std::int32_t index, float value);
    std::string getProgramName();
    std::string getProgramNameIndexed(std::int32_t index);
    std::int32_t getProgram();
    void setProgram(std::int32_t program);
    std::string getEffectName();

    // Shows the editor modally through the installed EditorHost; returns at
    // once without an instance, without effFlagsHasEditor or without a host.
    void openEditor();
    // Closes an open editor synchronously; nothing when none is open.
    void closeEditor();

    vst::AEffect* effect() const { return effect_; }
    bool isLoaded() const { return effect_ != nullptr; }
    EntryPoint entryPoint() const { return entryPoint_; }
    std::int32_t numParams() const { return numParams_; }
    std::int32_t numPrograms() const { return numPrograms_; }
    std::int32_t numInputs() const { return numInputs_; }
    std::int32_t numOutputs() const { return numOutputs_; }
    std::int32_t blockSize() const { return blockSize_; }
    float sampleRate() const { return sampleRate_; }
    std::int32_t maxEvents() const { return events_.capacity(); }
    // Events queued since the last hand-over (on the thread that queues them).
    std::int32_t pendingEventCount() const { return events_.queued(); }
    // Note-ons dropped for want of room (on the thread that queues them).
    std::uint64_t droppedEvents() const { return events_.dropped(); }
    // The output buffers after process (numOutputs of them, blockSize floats
    // each); null when the plug-in has no outputs.
    float* const* outputs() const { return outputs_; }

    // The native window of the open editor, or 0; written by the editor
    // window's session, read from any thread.
    std::uintptr_t editorWindow() const { return editorWindow_.load(); }
    void setEditorWindow(std::uintptr_t window) { editorWindow_.store(window); }
    // The session of the open editor, or null (user-interface thread only).
    EditorSession* editorSession() const { return editorSession_; }

private:
    // Drops the buffers and the instance's counts (not the library).
    void freeBuffers();

    std::unique_ptr<DynamicLibrary> library_;
    vst::AEffect* effect_ = nullptr;
    EntryPoint entryPoint_ = EntryPoint::None;
    // Cached at load: process() never asks the plug-in what it can do.
    bool canReplacing_ = false;
    // The counts the instance claimed, kept to say why it cannot sound.
    std::int32_t claimedInputs_ = 0;
    std::int32_t claimedOutputs_ = 0;
    // Render thread only, reset by load.
    std::int32_t badBlocks_ = 0;
    bool muted_ = false;
    std::int32_t numParams_ = 0;
    std::int32_t numPrograms_ = 0;
    std::int32_t numInputs_ = 0;
    std::int32_t numOutputs_ = 0;
    std::int32_t blockSize_ = 0;
    float sampleRate_ = 0.0f;
    BlockEvents events_;
    // numInputs (numOutputs) buffers of blockSize floats, one allocation per
    // set; inputs_/outputs_ point into the pointer arrays, null when empty.
    std::vector<float> inputStorage_;
    std::vector<float> outputStorage_;
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
    float** inputs_ = nullptr;
    float** outputs_ = nullptr;
    std::atomic<std::uintptr_t> editorWindow_{0};
    EditorSession* editorSession_ = nullptr;
    std::shared_ptr<EditorHost> editorHost_;  // the host running editorSession_
    // False once this object is gone: openEditor looks at it after the
    // editor's modal loop, inside which the owner may have deleted it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace sonrigo
