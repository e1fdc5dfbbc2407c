#include "vsthost/QtEditorHost.h"

#include <QApplication>
#include <QGuiApplication>
#include <QThread>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>

#include "vsthost/EditorWindow.h"

namespace sonrigo {
namespace {

// The application's X11 connection, or null when there is no widget
// application on X11 or the caller is not on its thread.
Display* ApplicationDisplay()
{
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (application == nullptr || QThread::currentThread() != application->thread() ||
        QGuiApplication::platformName() != QLatin1String("xcb")) {
        return nullptr;
    }
    auto* x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->display() : nullptr;
}

}  // namespace

void QtEditorHost::runModal(EditorSession& session)
{
    Display* display = ApplicationDisplay();
    if (display == nullptr) {
        return;
    }
    EditorWindow window(session, display);
    if (!window.openEditor()) {
        return;
    }
    windows_.emplace_back(&window);
    window.exec();
    std::erase_if(windows_, [&](const QPointer<EditorWindow>& entry) { return entry.isNull() || entry == &window; });
}

void QtEditorHost::closeWindow(EditorSession& session)
{
    const auto found = std::find_if(windows_.begin(), windows_.end(), [&](const QPointer<EditorWindow>& entry) {
        return !entry.isNull() && &entry->session() == &session;
    });
    if (found != windows_.end()) {
        (*found)->done(QDialog::Rejected);
    }
}

void PrepareQtForPluginEditors()
{
    QGuiApplication::setDesktopSettingsAware(false);
    qputenv("QT_NO_GLIB", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
}

}  // namespace sonrigo
