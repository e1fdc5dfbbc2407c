#pragma once

#include <memory>

namespace sonrigo {

class EditorSession;
class VstPlugin;

// Shows plug-in editor windows. The desktop program implements it with Qt
// (a native X11 top-level window); tools and tests without a display install
// none, or a fake one. All calls come from the user-interface thread.
class EditorHost {
public:
    virtual ~EditorHost() = default;

    // Creates the host window for session.plugin(), drives the session
    // (initialise once the window exists on the display, idle every 20 ms,
    // close before the window goes) and returns when the window has closed.
    // A host that cannot give the plug-in a real native window (no display,
    // not X11) returns at once without touching the session.
    virtual void runModal(EditorSession& session) = 0;

    // Closes the window that runModal shows for this session, synchronously:
    // when this returns, session.close() has run.
    virtual void closeWindow(EditorSession& session) = 0;
};

// The process-wide editor host; null (the default) means editors are never
// shown, as on a machine without a display.
void InstallEditorHost(std::shared_ptr<EditorHost> host);
std::shared_ptr<EditorHost> CurrentEditorHost();

}  // namespace sonrigo
