#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace sonrigo {

enum ChannelRoute : std::int32_t {
    RouteInternal = 0,    // the MIDI output device plays the channel
    RouteInstrument = 1,  // the VST instrument in the channel's rack slot plays it
};

// What the window's rows and transport set and the playback callbacks read:
// per channel its route, whether its note-ons play, whether the song's
// program changes are ignored, and the instrument library chosen for it; and
// whether a song plays and whether the rack exists yet.
//
// Threads: written on the user-interface thread, read there and on the
// sequencer's timer and playback threads. The flags are lock-free atomics so
// that the timer thread never waits; the paths sit behind a lock (the
// callbacks do not read them). A channel outside 0..15 reads as it starts
// and ignores writes.
class ChannelState {
public:
    static constexpr std::int32_t kChannels = 16;

    ChannelState();
    ChannelState(const ChannelState&) = delete;
    ChannelState& operator=(const ChannelState&) = delete;

    ChannelRoute channelRoute(std::int32_t channel) const;
    // A value that is neither route is ignored.
    void setChannelRoute(std::int32_t channel, ChannelRoute route);
    bool channelNotesOn(std::int32_t channel) const;
    void setChannelNotesOn(std::int32_t channel, bool on);
    bool channelProgramFixed(std::int32_t channel) const;
    void setChannelProgramFixed(std::int32_t channel, bool fixed);
    std::string instrumentPath(std::int32_t channel) const;
    void setInstrumentPath(std::int32_t channel, std::string path);

    bool isPlaying() const;
    void setPlaying(bool playing);
    // False until the rack exists: the program-number handler waits for it.
    bool isReady() const;
    void setReady(bool ready);

private:
    static bool valid(std::int32_t channel) { return channel >= 0 && channel < kChannels; }

    std::array<std::atomic<std::int32_t>, kChannels> route_;
    std::array<std::atomic<bool>, kChannels> notesOn_;
    std::array<std::atomic<bool>, kChannels> programFixed_;
    std::atomic<bool> playing_{false};
    std::atomic<bool> ready_{false};
    mutable std::mutex pathMutex_;
    std::array<std::string, kChannels> paths_;
};

static_assert(std::atomic<std::int32_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the timer thread reads the channel flags and must never wait");

}  // namespace sonrigo
