#pragma once

#include <QDialog>
#include <QSize>
#include <QTimer>

#include <memory>

typedef struct _XDisplay Display;

class QKeyEvent;

namespace sonrigo {

class EditorSession;
class XEventProcForwarder;

// The window a plug-in draws its editor into: a modal dialog with no controls
// of its own, backed by a native X11 top-level window from the start, because
// the plug-in makes its editor a child of that window on the X server.
//
// It drives one EditorSession: initialise (from openEditor), idle every 20 ms, and
// close exactly once, before the native window is hidden or destroyed,
// whichever way the dialog ends (close box, done, closeWindow, destruction).
//
// User-interface thread only. Borrows the session and the display, which must
// outlive it; the display must be the application's own connection.
class EditorWindow : public QDialog {
    Q_OBJECT

public:
    // The client size when the plug-in gives no rectangle: what a template of
    // 100 x 100 dialog units measures with the usual dialog font.
    static constexpr QSize kDefaultClientSize{150, 162};
    // effEditIdle cadence; plug-ins animate and poll their parameters on it.
    static constexpr int kIdleIntervalMs = 20;

    EditorWindow(EditorSession& session, Display* display, QWidget* parent = nullptr);
    ~EditorWindow() override;

    // Creates the native window, waits until it exists on the X server, hands
    // it to the session and applies the session's title and size. Returns
    // false when the window could not be made (the session is then untouched).
    bool openEditor();

    EditorSession& session() const { return session_; }
    // The X window given to the plug-in; 0 before open.
    unsigned long nativeWindow() const { return nativeWindow_; }
    const XEventProcForwarder* forwarder() const { return forwarder_.get(); }

    // Every way the dialog ends comes through here (the close box through
    // reject): the session closes first, while the window is still mapped.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onIdle();
    void closeSession();

    EditorSession& session_;
    Display* display_;
    unsigned long nativeWindow_ = 0;
    bool sessionOpen_ = false;  // initialised and not yet closed by us
    QTimer idleTimer_;
    std::unique_ptr<XEventProcForwarder> forwarder_;
};

}  // namespace sonrigo
