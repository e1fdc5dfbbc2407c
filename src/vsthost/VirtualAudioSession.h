#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/MidiOutput.h"
#include "platform/SampleSink.h"
#include "platform/SoftSynth.h"
#include "platform/TimerService.h"
#include "platform/VirtualTimerService.h"
#include "platform/WaveOut.h"
#include "vsthost/ChannelRouter.h"
#include "vsthost/RackEventQueue.h"
#include "vsthost/VstRack.h"

namespace sonrigo {

class MidiF0Data;

// The whole audio road of the player on a virtual clock: the sequencer's
// timer service, the wave device's position and the render thread's 10 ms
// steps all run on one VirtualTimerService, and what the ring plays goes to a
// sample sink. A song then plays faster than real time and gives the same
// samples at every run.
//
// Installs its clock and its wave output as the process's services while it
// lives (the ones before come back after). Used from the thread that
// creates it, which is the clock's participant; one at a time.
class VirtualAudioSession {
public:
    // The sink may be null; it must outlive the session. By default the
    // clock's events are taken by the thread that sleeps last, so that a
    // render runs on the render thread with no thread switch between its
    // steps; clockOptions.ownThread gives the timers their own thread, as in
    // real time, for the same samples.
    explicit VirtualAudioSession(SampleSink* sink, VirtualTimerService::Options clockOptions = {});
    ~VirtualAudioSession();
    VirtualAudioSession(const VirtualAudioSession&) = delete;
    VirtualAudioSession& operator=(const VirtualAudioSession&) = delete;

    // Puts an instrument on a channel, in the order the player does it (the
    // audio stopped around the load), and routes the channel to it; false
    // (with the plug-in's message shown) when it does not load.
    bool loadInstrument(std::int32_t channel, const std::string& path);
    // Plays every channel without an instrument on `synth`: it becomes the
    // session's only MIDI output (named `name`), so that no port of the
    // machine takes part. Before start().
    void useSoftSynth(std::shared_ptr<SoftSynth> synth, const std::string& name);
    // Makes `output` the session's MIDI output (the one before comes back
    // when the session ends).
    void useMidiOutput(std::shared_ptr<MidiOutputSystem> output);
    // Starts the audio; false when the device does not open.
    bool start();

    // Plays the song from its start to its end and `tailMs` beyond, the
    // rack's notifications handled all along, then stops the audio. `progress`
    // (may be empty) hears the virtual microseconds played about every 10 s
    // and may answer false to stop early. `stopSoon` (may be empty) is looked
    // at on the clock's thread at every step, so it must be safe from any
    // thread: true makes progress heard at once. false when the song did not
    // play to its end.
    bool play(MidiF0Data& song, std::uint32_t tailMs,
              const std::function<bool(std::int64_t playedUs)>& progress = {},
              const std::function<bool()>& stopSoon = {});
    // Lets virtual time pass with the rack's notifications handled.
    void runFor(std::uint32_t ms);

    VstRack& rack() { return *rack_; }
    ChannelRouter& router() { return *router_; }
    RackEventQueue& events() { return events_; }
    VirtualTimerService& clock() { return *clock_; }

private:
    void settle();

    std::shared_ptr<TimerService> previousTimers_;
    std::shared_ptr<WaveOutService> previousWaveOut_;
    std::shared_ptr<MidiOutputSystem> previousMidiOutput_;  // while a synth's output is installed
    std::shared_ptr<VirtualTimerService> clock_;
    RackEventQueue events_;
    std::unique_ptr<VstRack> rack_;
    std::unique_ptr<ChannelRouter> router_;
};

}  // namespace sonrigo
