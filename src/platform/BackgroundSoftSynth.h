#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>

#include "platform/SoftSynth.h"

namespace sonrigo {

// A soft synth that is made on a thread of its own, so that nobody waits for
// the making (the built-in synth reads a whole SoundFont, seconds from a cold
// disk). Until it is in it takes no message and renders silence; from then on
// it passes everything to the synth made. The render thread sees the synth
// arrive through one atomic flag: no lock, no wait.
class BackgroundSoftSynth final : public SoftSynth {
public:
    // Makes the synth on the loading thread; null, with `error` saying why,
    // when it cannot. It should give up soon once `stop` is requested.
    using Maker = std::function<std::unique_ptr<SoftSynth>(std::stop_token stop, std::string& error)>;
    enum class State { Loading, Ready, Failed };

    // Starts the making at once. `onDone` runs on the loading thread when the
    // making has ended, whichever way, also when it was abandoned; it must
    // not wait for the thread that owns this object.
    BackgroundSoftSynth(Maker make, std::function<void()> onDone);
    // Abandons a making still under way (see abandon()).
    ~BackgroundSoftSynth() override;
    BackgroundSoftSynth(const BackgroundSoftSynth&) = delete;
    BackgroundSoftSynth& operator=(const BackgroundSoftSynth&) = delete;

    // Asks a making under way to stop and waits until its thread has ended.
    // On the owner's thread; the synth stays if it was in already.
    void abandon();

    // Any thread.
    State state() const { return state_.load(std::memory_order_acquire); }
    // Why the making failed; read once state() is Failed.
    const std::string& error() const { return error_; }

    // The render thread's, as for every SoftSynth.
    void send(std::span<const std::uint8_t> message) override;
    void render(float* left, float* right, std::size_t frames) override;

private:
    // Written by the loading thread before state_ leaves Loading, read after.
    std::unique_ptr<SoftSynth> synth_;
    std::string error_;
    std::atomic<State> state_{State::Loading};
    // Last: it ends, and with it the making, before the rest goes.
    std::jthread loader_;
};

}  // namespace sonrigo
