#pragma once

// Same declaration as <X11/Xlib.h> and Qt's native interface, so that this
// header does not pull in Xlib's macros (None, Bool, Status...).
typedef struct _XDisplay Display;

namespace sonrigo {

// Catches the X protocol errors of our own requests on one display for as long
// as it lives: BadWindow from a plug-in window that has just gone, say, which
// Xlib's default handler would turn into exit(). The process-wide handler is
// swapped only around our calls, and put back in the destructor, because a
// plug-in's toolkit may have installed one of its own that exits, and it must
// keep it for its own calls. Errors of other displays (a plug-in's private
// connection) still go to the handler that was there before.
//
// User-interface thread only; one trap at a time (they do not nest).
class XErrorTrap {
public:
    // Borrows the display; syncs first so that errors of earlier requests are
    // not counted as ours.
    explicit XErrorTrap(Display* display);
    ~XErrorTrap();
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // Waits for the server to answer everything sent so far; true when an error
    // of this display arrived since the trap was set. Clears the flag.
    bool takeError();

private:
    Display* display_;
};

}  // namespace sonrigo
