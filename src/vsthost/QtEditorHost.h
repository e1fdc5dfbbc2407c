#pragma once

#include <QPointer>

#include <vector>

#include "vsthost/EditorHost.h"

namespace sonrigo {

class EditorWindow;

// Shows plug-in editors in EditorWindow dialogs, on X11 only: a Linux VST 2
// editor is an X11 child window, so under any other Qt platform (Wayland,
// offscreen) runModal returns at once. Needs a QApplication; all calls on its
// thread.
class QtEditorHost : public EditorHost {
public:
    void runModal(EditorSession& session) override;
    void closeWindow(EditorSession& session) override;

private:
    // The dialogs runModal is running, innermost last.
    std::vector<QPointer<EditorWindow>> windows_;
};

// Call before the QApplication is created, in a program that shows plug-in
// editors:
//  - Qt must not follow the desktop's settings: its GTK 3 platform theme loads
//    GTK 3 into the process, and GTK 2 editors (amsynth's, for one) then crash
//    on the mixed symbols.
//  - Qt runs its own event loop instead of GLib's default context: GTK
//    editors (amsynth's) add their sources to that context and expect them
//    to run only inside effEditIdle, and the sources stay behind, pointing
//    into unloaded code, once the plug-in library is gone.
//  - Under Wayland, Qt is made to use X11 (through Xwayland) when an X display
//    is there, since editors can only be X11 children; QT_QPA_PLATFORM set by
//    the user wins.
void PrepareQtForPluginEditors();

}  // namespace sonrigo
