#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/WaveOut.h"
#include "vsthost/RackWindow.h"
#include "vsthost/RingPosition.h"
#include "vsthost/SoftSynthLane.h"
#include "vsthost/VstApi.h"
#include "vsthost/WaveOutDevice.h"

namespace sonrigo {

class TimerService;
class VstPlugin;

// How a rack's audio engine is laid out; the defaults are the player's.
struct RackSetup {
    std::int32_t deviceId = -1;        // the system's default wave output
    std::int32_t bufferBytes = 32768;  // four of these make a ring of 1.49 s
    std::int32_t bufferCount = 4;
    std::int32_t leadMs = 50;    // rendering runs lead + period ahead of the play position
    std::int32_t periodMs = 10;  // the render thread's pause between passes
    // How long the render thread may be inside one call into a plug-in
    // before the plug-in is given up (see VstRack).
    std::chrono::milliseconds stuckCallLimit{10000};
};

// Sixteen instrument slots, one per MIDI channel, and the audio engine that
// plays them: the wave output ring, the two ring positions, the mix buffer and
// the render thread. Channel messages from the sequencer become timestamped
// VST MIDI events for the plug-in of their channel.
//
// Beside the plug-ins, a software synth (the built-in General MIDI synth) may
// play the channels that go to the MIDI output: its messages are stamped and
// placed to the frame the same way, and its sound is added to the mix.
//
// Threads: queueMidi, queueSynthMessage, setProgram, programName and
// getProgram run in the sequencer's timer callback (queueSynthMessage also on
// the playback thread, for the start's and the end's messages); renderPass on
// the render thread; everything else on the owner's (user-interface) thread.
// One lock keeps the queueing, the render pass's hand-over of the events and
// the loading and removing of plug-ins from interleaving; it is never held
// while a plug-in is called. Plug-ins and the synth are set and removed only
// while the audio is stopped: the rack refuses it, with a message, otherwise.
//
// A plug-in that does not come back from a call of the render thread within
// the setup's stuckCallLimit is given up, with a message: the thread is left
// inside it and a new one renders on, without that plug-in; the plug-in is
// never called, closed or unloaded again, and its slot is silent until it is
// loaded anew. A watch thread, beside the render thread, looks for that.
class VstRack {
public:
    static constexpr std::int32_t kSlotCount = 16;
    // The most events one render pass hands a plug-in: a dense pass of a
    // busy song, a 24-note chord and the release of all 128 notes of a
    // channel fit many times over. Beyond it note-offs and controllers wait
    // for the next pass; note-ons are dropped.
    static constexpr std::int32_t kEventsPerBlock = 512;
    static constexpr double kSampleRate = 44100.0;
    // The level of a silent pass.
    static constexpr double kSilenceLevel = -1.7e308;

    // Plays through the installed wave output service.
    explicit VstRack(RackWindow* window, const RackSetup& setup = {});
    VstRack(std::shared_ptr<WaveOutService> service, RackWindow* window, const RackSetup& setup = {});
    // Stops the audio; does not remove the plug-ins (removeAllPlugins first).
    virtual ~VstRack();
    VstRack(const VstRack&) = delete;
    VstRack& operator=(const VstRack&) = delete;

    // Slots: an index outside 0..15, or an empty slot, makes each of these do
    // nothing (getters answer 0 or the empty string).
    // Tries the library with the installed PluginProbe first (if any); one
    // it refuses leaves the slot empty, with the refusal's message.
    void loadPlugin(std::int32_t slot, const std::string& path);
    void removePlugin(std::int32_t slot);
    void removeAllPlugins();
    void resumePlugin(std::int32_t slot);
    void suspendPlugin(std::int32_t slot);
    std::int32_t paramCount(std::int32_t slot);
    std::int32_t programCount(std::int32_t slot);
    std::string paramName(std::int32_t slot, std::int32_t parameter);
    std::string paramLabel(std::int32_t slot, std::int32_t parameter);
    std::string paramDisplay(std::int32_t slot, std::int32_t parameter);
    void setParameter(std::int32_t slot, std::int32_t parameter, float value);
    std::string programName(std::int32_t slot);
    std::string programNameIndexed(std::int32_t slot, std::int32_t program);
    std::int32_t getProgram(std::int32_t slot);
    void setProgram(std::int32_t slot, std::int32_t program);
    // Closes every open editor, then shows this slot's; returns when it closes.
    void openEditor(std::int32_t slot);

    // Loads `path` into each of `slots` in the player's order: the library
    // tried once by the installed PluginProbe (while the audio still plays;
    // a refused library leaves every slot empty); the audio stopped if it
    // runs; each slot suspended, loaded (its message shown when it does not
    // load) and resumed; a warning, once, when the library can never make a
    // sound; then `beforeProgram` (where the window
    // shows an editor); program 0 on each slot, then `afterProgram` with the
    // slot; the audio started again if it ran. Returns how many loaded.
    std::int32_t loadInstruments(std::span<const std::int32_t> slots, const std::string& path,
                                 const std::function<void()>& beforeProgram = {},
                                 const std::function<void(std::int32_t)>& afterProgram = {});

    // One channel message for the plug-in of its channel, in the next render
    // pass (allocates nothing). While the device is closed nothing renders:
    // a note-off or controller then waits for the first pass, a note-on is
    // dropped.
    void queueMidi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);

    // The synth played beside the plug-ins (null: none), while the audio is
    // stopped. Its sound is added to every pass's mix.
    void setSoftSynth(std::shared_ptr<SoftSynth> synth);
    // One message for the synth (a channel message or a whole exclusive
    // message), stamped like queueMidi's events; allocates nothing. False
    // when there is no synth or no room left in this pass.
    bool queueSynthMessage(std::span<const std::uint8_t> message);
    std::uint64_t synthMessagesDropped() const;

    // Opens the device, queues the ring and starts the render thread; false
    // (with the device's message shown) when the device cannot play. Does
    // nothing while running.
    bool start();
    // Stops the render thread, waits until it has ended, then resets and
    // closes the device.
    void stop();
    // The owner's answer to a done notification: queues the buffer again. A
    // started rack's ring circulates on the device's own thread, so there
    // this finds the buffer queued already and does nothing.
    void onBufferDone(WaveHeader* header);
    // One pass: renders what the play position has advanced since the last
    // (while stopped: the render thread's passes are its own).
    void renderPass();

    bool running() const { return running_.load(std::memory_order_acquire); }
    double gain() const { return gain_.load(std::memory_order_relaxed); }
    void setGain(double gain) { gain_.store(gain, std::memory_order_relaxed); }
    // The last pass's level in dB (kSilenceLevel for silence).
    double level() const { return level_.load(std::memory_order_acquire); }
    std::int32_t latencyFrames() const { return latencyFrames_; }
    std::int32_t blockSize() const { return blockSize_; }
    std::int32_t periodMs() const { return periodMs_; }
    const WaveFormat& format() const { return format_; }
    std::int32_t pluginCount() const;
    // The slot's plug-in or null (owner's thread).
    VstPlugin* plugin(std::int32_t slot) const;
    WaveOutDevice& waveOut() { return waveOut_; }
    const RingPosition& renderPosition() const { return renderPosition_; }
    // The mix of the last pass (render thread, or while stopped).
    const std::vector<std::int16_t>& mixBuffer() const { return mixBuffer_; }

private:
    // A loaded plug-in, and the calls into it that other threads have in
    // progress (they run without the lock; removing waits for them).
    struct Slot;
    // One call in progress into a slot's plug-in from the timer thread.
    class Call {
    public:
        explicit Call(Slot* slot) : slot_(slot) {}
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;
        VstPlugin* operator->() const;
        explicit operator bool() const { return slot_ != nullptr; }

    private:
        Slot* slot_;
    };

    static bool ValidSlot(std::int32_t slot) { return slot >= 0 && slot < kSlotCount; }
    // The slot's plug-in (owner's thread, or under the lock).
    VstPlugin* occupied(std::int32_t slot) const;
    Call call(std::int32_t slot) const;
    // False, with the internal-error message, while the audio runs.
    bool stoppedForChange() const;
    // loadPlugin after the probe.
    void loadAdmitted(std::int32_t slot, const std::string& path);
    // Adds the slot's plug-in, muted in this pass, to the pass's message.
    void noteMuted(std::size_t before, const Slot& entry, std::int32_t slot);
    // Takes the slot's entry out under the lock; a plug-in given up stays
    // where it is, in memory, for the rest of the process (null then).
    std::unique_ptr<Slot> takeSlot(std::int32_t slot);

    // The render thread's call into a plug-in, as the watch sees it.
    struct RenderWatch;
    // With threadMutex_ held: starts a render thread and its watch record.
    void startRenderThread();
    // False when the thread was given up inside a plug-in: it must then
    // return at once, touching nothing of the rack's, which may be gone.
    bool renderPass(RenderWatch& watch);
    void renderThread(const std::shared_ptr<RenderWatch>& watch);
    void watchRenderThread();
    // With threadMutex_ held: leaves the render thread inside the plug-in
    // of `slot` and renders on with a new one if the audio still runs.
    void giveUpRenderThread(std::int32_t slot);

    std::shared_ptr<TimerService> clock_;
    WaveFormat format_;
    WaveOutDevice waveOut_;
    RingPosition renderPosition_;  // written under mutex_ by the render thread
    RingPosition targetPosition_;  // render thread only
    // Written under mutex_ while the audio is stopped; the render thread
    // reads them without it.
    std::array<std::unique_ptr<Slot>, kSlotCount> slots_;
    std::int32_t pluginCount_ = 0;
    std::vector<std::int16_t> mixBuffer_;
    std::vector<double> mixTotals_;  // one pass's frames before conversion
    std::int32_t blockSize_;
    std::int32_t bufferBytes_;
    std::int32_t bufferCount_;
    std::int32_t periodMs_;
    std::int32_t latencyFrames_;
    std::chrono::milliseconds stuckCallLimit_;
    RackWindow* window_;
    std::int32_t deviceId_;
    std::atomic<double> gain_{1.0};
    std::atomic<bool> running_{false};
    std::atomic<double> level_{0.0};
    SoftSynthLane synthLane_;  // queue and hand-over under mutex_
    std::array<char, 512> muteText_{};  // render thread only

    // queueMidi, the render pass's hand-over, loading and removing, and the
    // device's opening and closing (queueMidi reads its position).
    mutable std::mutex mutex_;
    // The render thread, its watch record and the watch thread: the owner's
    // start and stop and the watch's give-up. Taken before mutex_, never after.
    std::mutex threadMutex_;
    std::thread renderThread_;
    std::shared_ptr<RenderWatch> renderWatch_;
    std::thread watchThread_;
    std::condition_variable watchWake_;
    bool watchEnding_ = false;
    std::atomic<bool> renderEnded_{true};
};

}  // namespace sonrigo
