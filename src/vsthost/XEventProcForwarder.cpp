#include "vsthost/XEventProcForwarder.h"

#include <QByteArray>
#include <QCoreApplication>

#include <xcb/xproto.h>

#include <X11/Xlib.h>
#include <X11/Xlibint.h>

#include <cstring>
#include <vector>

#include "vsthost/XErrorTrap.h"

namespace sonrigo {
namespace {

constexpr const char* kEventProcAtom = "_XEventProc";
// Editors keep a handful of windows under their top one; the limits only
// bound the round trips per rescan when a plug-in builds a deep tree.
constexpr int kMaxDepth = 4;
constexpr std::size_t kMaxWindows = 256;

std::vector<Window> Children(Display* display, Window window)
{
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<Window> result;
    if (XQueryTree(display, window, &root, &parent, &children, &count) != 0 && children != nullptr) {
        result.assign(children, children + count);
    }
    if (children != nullptr) {
        XFree(children);
    }
    return result;
}

// Call under an XErrorTrap.
std::optional<std::uintptr_t> ReadProperty(Display* display, Window window, Atom atom)
{
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, remaining = 0;
    unsigned char* data = nullptr;
    // Two 32-bit items at most: a 64-bit pointer.
    const int status =
        XGetWindowProperty(display, window, atom, 0, 2, False, AnyPropertyType, &type, &format, &items, &remaining, &data);
    std::optional<std::uintptr_t> result;
    if (status == Success && data != nullptr && format == 32) {
        // Xlib hands format-32 items out as longs, whatever their size.
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        if (items == 2 && sizeof(std::uintptr_t) >= 8) {
            const std::uint64_t low = values[0] & 0xFFFFFFFFu;
            const std::uint64_t high = values[1] & 0xFFFFFFFFu;
            result = static_cast<std::uintptr_t>(low | (high << 32));
        } else if (items == 1) {
            result = static_cast<std::uintptr_t>(values[0]);
        }
    }
    if (data != nullptr) {
        XFree(data);
    }
    if (result && *result == 0) {
        result.reset();
    }
    return result;
}

// The window an event belongs to, as Xlib's XAnyEvent.window reports it;
// 0 for the types an editor has no use for.
xcb_window_t EventWindow(const xcb_generic_event_t* event)
{
    switch (event->response_type & 0x7F) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE:
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE:
    case XCB_MOTION_NOTIFY:
        return reinterpret_cast<const xcb_key_press_event_t*>(event)->event;
    case XCB_ENTER_NOTIFY:
    case XCB_LEAVE_NOTIFY:
        return reinterpret_cast<const xcb_enter_notify_event_t*>(event)->event;
    case XCB_FOCUS_IN:
    case XCB_FOCUS_OUT:
        return reinterpret_cast<const xcb_focus_in_event_t*>(event)->event;
    case XCB_EXPOSE:
        return reinterpret_cast<const xcb_expose_event_t*>(event)->window;
    case XCB_VISIBILITY_NOTIFY:
        return reinterpret_cast<const xcb_visibility_notify_event_t*>(event)->window;
    case XCB_DESTROY_NOTIFY:
        return reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->event;
    case XCB_UNMAP_NOTIFY:
        return reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->event;
    case XCB_MAP_NOTIFY:
        return reinterpret_cast<const xcb_map_notify_event_t*>(event)->event;
    case XCB_REPARENT_NOTIFY:
        return reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->event;
    case XCB_CONFIGURE_NOTIFY:
        return reinterpret_cast<const xcb_configure_notify_event_t*>(event)->event;
    case XCB_PROPERTY_NOTIFY:
        return reinterpret_cast<const xcb_property_notify_event_t*>(event)->window;
    case XCB_SELECTION_CLEAR:
        return reinterpret_cast<const xcb_selection_clear_event_t*>(event)->owner;
    case XCB_SELECTION_REQUEST:
        return reinterpret_cast<const xcb_selection_request_event_t*>(event)->owner;
    case XCB_SELECTION_NOTIFY:
        return reinterpret_cast<const xcb_selection_notify_event_t*>(event)->requestor;
    case XCB_CLIENT_MESSAGE:
        return reinterpret_cast<const xcb_client_message_event_t*>(event)->window;
    default:
        return 0;
    }
}

}  // namespace

XEventProcForwarder::XEventProcForwarder(Display* display, unsigned long hostWindow)
    : display_(display), hostWindow_(hostWindow)
{
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->installNativeEventFilter(this);
    }
}

XEventProcForwarder::~XEventProcForwarder()
{
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->removeNativeEventFilter(this);
    }
}

std::optional<std::uintptr_t> XEventProcForwarder::ReadEventProc(Display* display, unsigned long window)
{
    if (display == nullptr) {
        return std::nullopt;
    }
    XErrorTrap trap(display);
    const Atom atom = XInternAtom(display, kEventProcAtom, True);
    if (atom == None) {
        return std::nullopt;
    }
    std::optional<std::uintptr_t> proc = ReadProperty(display, window, atom);
    if (trap.takeError()) {
        return std::nullopt;
    }
    return proc;
}

void XEventProcForwarder::rescan()
{
    procs_.clear();
    if (display_ == nullptr || hostWindow_ == 0) {
        return;
    }
    XErrorTrap trap(display_);
    // Only-if-exists: until some client has made the atom, no window has it.
    const Atom atom = XInternAtom(display_, kEventProcAtom, True);
    if (atom == None) {
        return;
    }
    for (const Window child : Children(display_, hostWindow_)) {
        if (procs_.size() >= kMaxWindows) {
            break;
        }
        if (const std::optional<std::uintptr_t> proc = ReadProperty(display_, child, atom)) {
            addSubtree(child, reinterpret_cast<EventProc>(*proc), 1);
        }
    }
}

void XEventProcForwarder::addSubtree(unsigned long window, EventProc proc, int depth)
{
    procs_.emplace(window, proc);
    if (depth >= kMaxDepth) {
        return;
    }
    for (const Window child : Children(display_, window)) {
        if (procs_.size() >= kMaxWindows) {
            return;
        }
        addSubtree(child, proc, depth + 1);
    }
}

XEventProcForwarder::EventProc XEventProcForwarder::procFor(unsigned long window) const
{
    const auto found = procs_.find(window);
    return found != procs_.end() ? found->second : nullptr;
}

bool XEventProcForwarder::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/)
{
    if (procs_.empty() || eventType != "xcb_generic_event_t" || message == nullptr) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const xcb_window_t window = EventWindow(event);
    const EventProc proc = window != 0 ? procFor(window) : nullptr;
    if (proc == nullptr) {
        return false;
    }

    // Core events are 32 bytes on the wire, and xcb hands them over as such
    // (plus a full sequence number after them, which Xlib does not know).
    xEvent wire;
    static_assert(sizeof wire == 32);
    std::memcpy(&wire, event, sizeof wire);
    const int type = wire.u.u.type & 0x7F;

    XEvent converted{};
    bool ok = false;
    XLockDisplay(display_);
    // Xlib only hands its converter out by swapping it; put it straight back.
    auto* const converter = XESetWireToEvent(display_, type, nullptr);
    if (converter != nullptr) {
        XESetWireToEvent(display_, type, converter);
        // Xlib widens the 16-bit sequence from its own request count; Qt's
        // reader may be ahead of it, so give it a number it has seen.
        wire.u.u.sequenceNumber = static_cast<CARD16>(LastKnownRequestProcessed(display_));
        ok = converter(display_, &converted, &wire) != 0;
    }
    XUnlockDisplay(display_);
    if (ok) {
        proc(&converted);
    }
    return true;
}

}  // namespace sonrigo
