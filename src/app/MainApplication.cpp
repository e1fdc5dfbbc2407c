#include "app/MainApplication.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QStringList>
#include <QTimer>

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
#include "vsthost/QtEditorHost.h"

namespace sonrigo {

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

    {
        MainDialog dialog;
        // What the start-up has to say (no sound device, no synth) is shown
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

    InstallEditorHost(nullptr);
    InstallFileDialog(previousDialog);
    InstallMessageSink(previousSink);
    return 0;
}

}  // namespace sonrigo
