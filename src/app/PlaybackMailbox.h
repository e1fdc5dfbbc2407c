#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

namespace sonrigo {

// What the playback threads leave for the window: per row the program number
// a program change of the song asks the row to show, the end of the song,
// and the end of a stop. Posting takes no lock and allocates nothing; the
// first post after a take calls the wake function, on the posting thread,
// which must not block either (the window's writes one byte to a pipe). The
// window takes everything on its own thread.
class PlaybackMailbox {
public:
    static constexpr std::int32_t kRows = 16;

    struct Taken {
        // The spin value (1 to 128) each row is to show; 0 for none.
        std::array<std::int32_t, kRows> spin{};
        bool ended = false;    // the song ran to its end, or could not start
        bool stopped = false;  // a stop has finished its waits
    };

    // Before any thread posts.
    void setWake(std::function<void()> wake) { wake_ = std::move(wake); }

    void postProgram(std::int32_t row, std::int32_t spinValue);  // timer thread
    void postEnd();                                              // playback worker
    void postStopped();                                          // the stop's thread
    Taken take();                                                // window's thread

private:
    void wake();

    std::function<void()> wake_;
    std::array<std::atomic<std::int32_t>, kRows> spin_{};
    std::atomic<bool> ended_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> woken_{false};
};

}  // namespace sonrigo
