#include "vsthost/EditorWindow.h"

#include <QKeyEvent>
#include <QString>

#include <dlfcn.h>

#include <cmath>
#include <string>

#include "vsthost/EditorSession.h"
#include "vsthost/VstApi.h"
#include "vsthost/VstPlugin.h"
#include "vsthost/XErrorTrap.h"
#include "vsthost/XEventProcForwarder.h"

// Last: Xlib defines None, Bool, Status... as macros.
#include <X11/Xlib.h>

namespace sonrigo {
namespace {

// A plug-in's rectangle is in device pixels; Qt sizes windows in logical ones.
int ToLogical(int devicePixels, qreal ratio)
{
    return ratio > 0 ? static_cast<int>(std::ceil(devicePixels / ratio)) : devicePixels;
}

// The toolkit an editor brings into the process (GTK 2 in amsynth's) registers
// types and event sources in process-wide GLib state that outlives it. Once
// the plug-in library is unloaded that state points into unmapped code, and
// the next gtk_init, from the same plug-in loaded again, crashes. So a library
// whose editor has been shown stays mapped until the process ends.
void KeepLibraryLoaded(const vst::AEffect* effect)
{
    Dl_info info{};
    if (effect == nullptr || dladdr(reinterpret_cast<void*>(effect->dispatcher), &info) == 0 ||
        info.dli_fname == nullptr) {
        return;
    }
    // NOLOAD: only the already loaded library gains the flag; our extra
    // reference goes again at once.
    if (void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE)) {
        dlclose(handle);
    }
}

}  // namespace

EditorWindow::EditorWindow(EditorSession& session, Display* display, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      session_(session),
      display_(display)
{
    setAttribute(Qt::WA_NativeWindow);
    setModal(true);
    setSizeGripEnabled(false);
    resize(kDefaultClientSize);
    idleTimer_.setInterval(kIdleIntervalMs);
    connect(&idleTimer_, &QTimer::timeout, this, &EditorWindow::onIdle);
}

EditorWindow::~EditorWindow()
{
    // The native window goes in QWidget's destructor, after this.
    closeSession();
}

bool EditorWindow::openEditor()
{
    if (display_ == nullptr || nativeWindow_ != 0) {
        return false;
    }
    const WId window = winId();
    if (window == 0) {
        return false;
    }
    {
        // Qt creates the window through its own xcb requests; the plug-in may
        // use it through Xlib or a connection of its own, so it has to be on
        // the server before effEditOpen. The sync reaches it on the shared
        // connection, and the query proves it.
        XErrorTrap trap(display_);
        XWindowAttributes attributes{};
        const bool exists = XGetWindowAttributes(display_, static_cast<Window>(window), &attributes) != 0;
        if (trap.takeError() || !exists) {
            return false;
        }
    }
    nativeWindow_ = window;
    forwarder_ = std::make_unique<XEventProcForwarder>(display_, nativeWindow_);

    KeepLibraryLoaded(session_.plugin().effect());
    sessionOpen_ = true;
    const EditorSession::Layout layout = session_.initialise(nativeWindow_, display_);
    setWindowTitle(QString::fromUtf8(layout.title.data(), static_cast<qsizetype>(layout.title.size())));
    QSize client = kDefaultClientSize;
    if (layout.width && layout.height) {
        const qreal ratio = devicePixelRatio();
        client = QSize(ToLogical(*layout.width, ratio), ToLogical(*layout.height, ratio));
    }
    setFixedSize(client);

    // Editors that leave their events to the host have their window by now.
    forwarder_->rescan();
    idleTimer_.start();
    return true;
}

void EditorWindow::done(int result)
{
    closeSession();
    QDialog::done(result);
}

void EditorWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape belongs to the editor; the window closes by its close box only.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void EditorWindow::onIdle()
{
    if (!sessionOpen_) {
        return;
    }
    session_.idle();
    // Editors may make (or replace) their windows at any time, not only in
    // effEditOpen; looking every tick keeps events from being lost.
    if (forwarder_) {
        forwarder_->rescan();
    }
}

void EditorWindow::closeSession()
{
    if (!sessionOpen_) {
        return;
    }
    sessionOpen_ = false;
    idleTimer_.stop();
    // The editor's event procedure dies with its editor: stop forwarding first.
    forwarder_.reset();
    session_.close();
}

}  // namespace sonrigo
