#include "platform/Beep.h"

#include <atomic>

namespace sonrigo {
namespace {

void SilentBeep(unsigned /*frequencyHz*/, unsigned /*durationMs*/) {}

std::atomic<BeepFunction> gBeep{&SilentBeep};

}  // namespace

BeepFunction InstallBeep(BeepFunction beep)
{
    const BeepFunction previous = gBeep.exchange(beep != nullptr ? beep : &SilentBeep);
    return previous == &SilentBeep ? nullptr : previous;
}

void Beep(unsigned frequencyHz, unsigned durationMs)
{
    gBeep.load()(frequencyHz, durationMs);
}

}  // namespace sonrigo
