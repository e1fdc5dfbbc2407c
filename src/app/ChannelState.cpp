#include "app/ChannelState.h"

#include <utility>

namespace sonrigo {

ChannelState::ChannelState()
{
    for (std::int32_t channel = 0; channel < kChannels; ++channel) {
        route_[channel].store(RouteInternal);
        notesOn_[channel].store(true);
        programFixed_[channel].store(false);
    }
}

ChannelRoute ChannelState::channelRoute(std::int32_t channel) const
{
    if (!valid(channel))
        return RouteInternal;
    return static_cast<ChannelRoute>(route_[channel].load(std::memory_order_acquire));
}

void ChannelState::setChannelRoute(std::int32_t channel, ChannelRoute route)
{
    if (valid(channel) && (route == RouteInternal || route == RouteInstrument))
        route_[channel].store(route, std::memory_order_release);
}

bool ChannelState::channelNotesOn(std::int32_t channel) const
{
    return !valid(channel) || notesOn_[channel].load(std::memory_order_acquire);
}

void ChannelState::setChannelNotesOn(std::int32_t channel, bool on)
{
    if (valid(channel))
        notesOn_[channel].store(on, std::memory_order_release);
}

bool ChannelState::channelProgramFixed(std::int32_t channel) const
{
    return valid(channel) && programFixed_[channel].load(std::memory_order_acquire);
}

void ChannelState::setChannelProgramFixed(std::int32_t channel, bool fixed)
{
    if (valid(channel))
        programFixed_[channel].store(fixed, std::memory_order_release);
}

std::string ChannelState::instrumentPath(std::int32_t channel) const
{
    if (!valid(channel))
        return {};
    std::lock_guard lock(pathMutex_);
    return paths_[channel];
}

void ChannelState::setInstrumentPath(std::int32_t channel, std::string path)
{
    if (!valid(channel))
        return;
    std::lock_guard lock(pathMutex_);
    paths_[channel] = std::move(path);
}

bool ChannelState::isPlaying() const
{
    return playing_.load(std::memory_order_acquire);
}

void ChannelState::setPlaying(bool playing)
{
    playing_.store(playing, std::memory_order_release);
}

bool ChannelState::isReady() const
{
    return ready_.load(std::memory_order_acquire);
}

void ChannelState::setReady(bool ready)
{
    ready_.store(ready, std::memory_order_release);
}

}  // namespace sonrigo
