#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sonrigo {

class VstPlugin;

// One showing of a plug-in's editor: everything the editor window says to the
// plug-in, independent of the window system, so that it is tested without a
// display. The host window (see EditorHost) calls it on the user-interface
// thread in this order: initialise, idle any number of times, close once.
class EditorSession {
public:
    // What the window does after initialising: its title and, when the plug-in
    // gave a rectangle, the client size in pixels (each side at least 100).
    struct Layout {
        std::string title;                  // at most 32 characters of the effect name
        std::optional<int> width, height;   // both set or both empty
    };

    explicit EditorSession(VstPlugin& plugin);

    VstPlugin& plugin() const { return plugin_; }

    // The window exists on the display: sets the plug-in's editorWindow to
    // nativeWindow, reads the effect name, dispatches effEditOpen with
    // ptr = nativeWindow and value = display (the X11 Window and Display* on
    // Linux), then effEditGetRect.
    Layout initialise(std::uintptr_t nativeWindow, void* display);
    // effEditIdle while the session is open.
    void idle();
    // effEditClose (once; later calls do nothing) and clears the plug-in's
    // editorWindow. Must run while the window still exists.
    void close();
    bool isOpen() const { return open_; }

private:
    VstPlugin& plugin_;
    bool open_ = false;
    bool closed_ = false;
};

}  // namespace sonrigo
