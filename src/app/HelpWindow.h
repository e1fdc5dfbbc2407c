#pragma once

#include <functional>

#include <QMainWindow>
#include <QString>
#include <QUrl>

class QAction;
class QTextBrowser;

namespace sonrigo {

// The compiled help keeps the name of the help file, and its pages sit under
// that name in the program's Qt resources: the start topic is
// qrc:/Sonrigo.chm/index.htm.
inline constexpr char kHelpFile[] = "Sonrigo.chm";
inline constexpr char kHelpTopic[] = "index.htm";

// The program's help: a browser over the bundled pages with Back, Forward and
// Home, titled by the page's <title>. One window per process, non-modal, so
// that reading help never holds up the main dialog or a song that plays.
// Everything here runs on the user-interface thread.
class HelpWindow : public QMainWindow {
    Q_OBJECT

public:
    // Opens a link that leaves the bundled pages; returns whether it could.
    using ExternalOpener = std::function<bool(const QUrl&)>;

    // Shows topic (a page name such as "index.htm", optionally with "#anchor")
    // and returns at once. The window already open is reused and raised; a
    // new one belongs to owner and closes with it. Pass the main dialog: while
    // it runs modally only its own windows take input.
    static HelpWindow* showHelp(QWidget* owner, const QString& topic = QString::fromLatin1(kHelpTopic));
    // The window showHelp made, while it exists.
    static HelpWindow* current();
    // qrc:/Sonrigo.chm/<topic>
    static QUrl topicUrl(const QString& topic);

    // Where links that leave the bundled pages (http, mailto, ...) go: the
    // desktop's browser (QDesktopServices) unless replaced, as tests do; an
    // empty opener puts the desktop's back.
    static void setExternalOpener(ExternalOpener opener);

    QTextBrowser* browser() const { return browser_; }
    void showTopic(const QString& topic);

private:
    explicit HelpWindow(QWidget* owner);

    void followLink(const QUrl& link);
    void updateTitle();

    QTextBrowser* browser_ = nullptr;
    QAction* back_ = nullptr;
    QAction* forward_ = nullptr;
};

}  // namespace sonrigo
