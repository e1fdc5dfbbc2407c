#pragma once

namespace sonrigo {

// The audible signal for a failed system-exclusive send. The default does
// nothing; a front end installs what it can sound (the command-line tool could
// ring the terminal bell, tests count the calls).
using BeepFunction = void (*)(unsigned frequencyHz, unsigned durationMs);

// Replaces the process-wide beep and returns the one it replaces; null puts
// back the silent default. Safe from any thread.
BeepFunction InstallBeep(BeepFunction beep);

// Sounds the installed beep. Called on the sequencer's timer thread, so an
// installed function must return quickly and must not block on other threads.
void Beep(unsigned frequencyHz, unsigned durationMs);

}  // namespace sonrigo
