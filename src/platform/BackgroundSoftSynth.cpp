#include "platform/BackgroundSoftSynth.h"

#include <algorithm>
#include <utility>

namespace sonrigo {

BackgroundSoftSynth::BackgroundSoftSynth(Maker make, std::function<void()> onDone)
    : loader_([this, make = std::move(make), onDone = std::move(onDone)](std::stop_token stop) {
          std::string error;
          std::unique_ptr<SoftSynth> synth = make ? make(stop, error) : nullptr;
          if (synth) {
              synth_ = std::move(synth);
              state_.store(State::Ready, std::memory_order_release);
          } else {
              error_ = std::move(error);
              state_.store(State::Failed, std::memory_order_release);
          }
          if (onDone)
              onDone();
      })
{
}

BackgroundSoftSynth::~BackgroundSoftSynth()
{
    abandon();
}

void BackgroundSoftSynth::abandon()
{
    if (!loader_.joinable())
        return;
    loader_.request_stop();
    loader_.join();
}

void BackgroundSoftSynth::send(std::span<const std::uint8_t> message)
{
    if (state() == State::Ready)
        synth_->send(message);
}

void BackgroundSoftSynth::render(float* left, float* right, std::size_t frames)
{
    if (state() == State::Ready) {
        synth_->render(left, right, frames);
        return;
    }
    std::fill_n(left, frames, 0.0F);
    std::fill_n(right, frames, 0.0F);
}

}  // namespace sonrigo
