#include "app/MainApplication.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFont>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/MainDialog.h"
#include "common/FileChooser.h"
#include "common/MessageSink.h"
#include "common/ScopedMessageCapture.h"
#include "platform/QtFileDialog.h"
#include "platform/QtMessageSink.h"
#include "vsthost/EditorHost.h"
#include "vsthost/PluginProbe.h"
#include "vsthost/PluginTrial.h"
#include "vsthost/QtEditorHost.h"

namespace sonrigo {
namespace {

// SONRIGO_TRACE_FIRST_PAINT=1: once the window's first frame has gone to the
// display, the wall-clock time (CLOCK_REALTIME, in nanoseconds) goes to
// stderr, for bench/window-launch.sh to compare with the launch's. Not a
// message for the user: no message box.
class FirstPaintTrace final : public QObject {
public:
    explicit FirstPaintTrace(QWidget& window) : QObject(&window), window_(window)
    {
        QApplication::instance()->installEventFilter(this);
    }

protected:
    // The window's controls cover it: the first paint may be one of theirs.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == &window_) {
            QApplication::instance()->removeEventFilter(this);
            // The frame is flushed to the display after its paint events:
            // the time is taken once the event loop is back.
            QTimer::singleShot(0, this, [] {
                timespec now{};
                ::clock_gettime(CLOCK_REALTIME, &now);
                std::fprintf(stderr, "sonrigo: first paint at %lld ns\n",
                             static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
                std::fflush(stderr);
            });
        }
        return false;
    }

private:
    QWidget& window_;
};

}  // namespace

void MainApplication::substituteFonts()
{
    // The window's font is the Windows "MS PGothic" at 9 points. fontconfig
    // maps that name to DejaVu Sans, which has no Japanese glyphs, and the IPA
    // fonts ship no alias for it: proportional Japanese Gothics stand in.
    const QStringList gothics = {QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
                                 QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic"),
                                 QStringLiteral("IPAGothic")};
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"), gothics);
    QFont::insertSubstitutions(QStringLiteral("MS PGothic"), gothics);
}

int MainApplication::run(int argc, char** argv, std::function<void(MainDialog&)> onShown)
{
    if (argc == 3 && std::strcmp(argv[1], kPluginTrialOption) == 0)
        PluginTrial::RunAndExit(argv[2]);
    PrepareQtForPluginEditors();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sonrigo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Sonrigo"));
    QApplication::setDesktopFileName(QStringLiteral("sonrigo"));
    substituteFonts();
    QApplication::setFont(QFont(QStringLiteral("ＭＳ Ｐゴシック"), 9));

    const std::shared_ptr<MessageSink> previousSink = InstallMessageSink(std::make_shared<QtMessageSink>());
    const std::shared_ptr<FileDialog> previousDialog = InstallFileDialog(std::make_shared<QtFileDialog>());
    InstallEditorHost(std::make_shared<QtEditorHost>());
    // Each library is tried by this program in a process of its own before
    // the window loads it. The window paints meanwhile and takes no input.
    auto probe = std::make_shared<PluginProbe>(std::vector<std::string>{"/proc/self/exe", kPluginTrialOption}, [] {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return true;
    });
    probe->onTrial([](bool trying) {
        if (trying)
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        else
            QApplication::restoreOverrideCursor();
    });
    const std::shared_ptr<PluginProbe> previousProbe = InstallPluginProbe(std::move(probe));

    {
        MainDialog dialog;
        if (const char* trace = std::getenv("SONRIGO_TRACE_FIRST_PAINT"); trace != nullptr && *trace == '1')
            new FirstPaintTrace(dialog);
        // What the start-up has to say (no sound device) is shown
        // over the window, once it is there, not before it.
        std::vector<std::string> startUpMessages;
        {
            ScopedMessageCapture capture;
            dialog.startUp();
            startUpMessages = capture.take();
        }
        dialog.show();
        QTimer::singleShot(0, &dialog, [startUpMessages] {
            for (const std::string& text : startUpMessages)
                ShowMessage(text);
        });
        // `sonrigo FILE`: loaded as Load MIDI loads it, once the window shows.
        const QStringList arguments = QApplication::arguments();
        if (arguments.size() > 1) {
            const std::string path = QFile::encodeName(arguments.at(1)).toStdString();
            QTimer::singleShot(0, &dialog, [&dialog, path] { dialog.loadSongFile(path); });
        }
        if (onShown)
            QTimer::singleShot(0, &dialog, [&dialog, &onShown] { onShown(dialog); });
        dialog.exec();
        dialog.shutdown();
    }

    InstallPluginProbe(previousProbe);
    InstallEditorHost(nullptr);
    InstallFileDialog(previousDialog);
    InstallMessageSink(previousSink);
    return 0;
}

}  // namespace sonrigo
