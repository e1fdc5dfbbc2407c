#include "app/PlaybackMailbox.h"

namespace sonrigo {

void PlaybackMailbox::wake()
{
    if (!woken_.exchange(true) && wake_)
        wake_();
}

void PlaybackMailbox::postProgram(std::int32_t row, std::int32_t spinValue)
{
    if (row < 0 || row >= kRows)
        return;
    spin_[static_cast<std::size_t>(row)].store(spinValue);
    wake();
}

void PlaybackMailbox::postEnd()
{
    ended_.store(true);
    wake();
}

void PlaybackMailbox::postStopped()
{
    stopped_.store(true);
    wake();
}

PlaybackMailbox::Taken PlaybackMailbox::take()
{
    // Cleared first: whatever is posted from here on wakes the window again.
    woken_.store(false);
    Taken taken;
    for (std::size_t row = 0; row < spin_.size(); ++row)
        taken.spin[row] = spin_[row].exchange(0);
    taken.ended = ended_.exchange(false);
    taken.stopped = stopped_.exchange(false);
    return taken;
}

}  // namespace sonrigo
