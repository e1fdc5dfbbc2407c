#include "vsthost/XErrorTrap.h"

#include <X11/Xlib.h>

#include <atomic>

namespace sonrigo {
namespace {

// The handler is process-wide, so its state is too. Xlib calls it on whichever
// thread reads the error, hence the atomics.
std::atomic<Display*> trappedDisplay{nullptr};
std::atomic<XErrorHandler> previousHandler{nullptr};
std::atomic<bool> errorSeen{false};

int TrapHandler(Display* display, XErrorEvent* error)
{
    if (display == trappedDisplay.load()) {
        errorSeen.store(true);
        return 0;
    }
    XErrorHandler previous = previousHandler.load();
    return previous != nullptr ? previous(display, error) : 0;
}

}  // namespace

XErrorTrap::XErrorTrap(Display* display) : display_(display)
{
    XSync(display_, False);
    errorSeen.store(false);
    trappedDisplay.store(display_);
    previousHandler.store(XSetErrorHandler(TrapHandler));
}

XErrorTrap::~XErrorTrap()
{
    XSync(display_, False);
    XSetErrorHandler(previousHandler.load());
    trappedDisplay.store(nullptr);
    previousHandler.store(nullptr);
}

bool XErrorTrap::takeError()
{
    XSync(display_, False);
    return errorSeen.exchange(false);
}

}  // namespace sonrigo
