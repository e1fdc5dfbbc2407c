#pragma once

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <optional>
#include <unordered_map>

typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

namespace sonrigo {

// Delivers X events to plug-in editors that expect the host to run their event
// loop. Such editors (Xlib-based VST 2 editors that follow the convention of
// the early Linux VST hosts) create their window on the Display* given with
// effEditOpen, select input on it themselves, and publish on it a property
// "_XEventProc" holding a `void (*)(XEvent*)`, which the host calls for each
// event of that window.
//
// That Display* is the application's own connection, whose events Qt reads and
// dispatches. So events of the editor's windows arrive in Qt's native event
// filter as raw xcb events, which are the X protocol's wire format; Xlib's own
// wire-to-event converter for the type turns them into the XEvent the editor
// expects, and the filter hands them over and swallows them (Qt does not know
// those windows anyway). rescan() finds the editor windows: the children of
// the host window that carry the property, and everything below them.
//
// User-interface thread only. Installs itself as a native event filter of the
// application for its lifetime.
class XEventProcForwarder : public QAbstractNativeEventFilter {
public:
    using EventProc = void (*)(XEvent*);

    // Borrows the display; hostWindow is the window given to the plug-in.
    XEventProcForwarder(Display* display, unsigned long hostWindow);
    ~XEventProcForwarder() override;
    XEventProcForwarder(const XEventProcForwarder&) = delete;
    XEventProcForwarder& operator=(const XEventProcForwarder&) = delete;

    // Looks again for editor windows under the host window. Windows that have
    // gone in the meantime are dropped; X errors are caught, never fatal.
    void rescan();
    // The procedure events of this window go to, or null.
    EventProc procFor(unsigned long window) const;
    std::size_t windowCount() const { return procs_.size(); }

    // Reads a window's _XEventProc; nothing when the window has none or is
    // gone. A 64-bit pointer comes as two 32-bit items, low half first; a
    // single item is taken as a whole pointer, as 32-bit plug-ins store it.
    static std::optional<std::uintptr_t> ReadEventProc(Display* display, unsigned long window);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void addSubtree(unsigned long window, EventProc proc, int depth);

    Display* display_;
    unsigned long hostWindow_;
    std::unordered_map<unsigned long, EventProc> procs_;
};

}  // namespace sonrigo
