#include "app/HelpWindow.h"

#include <utility>

#include <QAction>
#include <QDesktopServices>
#include <QKeySequence>
#include <QPointer>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>

namespace sonrigo {
namespace {

// Room for the widest table of the pages without a horizontal scroll bar.
constexpr int kWidth = 720;
constexpr int kHeight = 640;

QPointer<HelpWindow>& CurrentWindow()
{
    static QPointer<HelpWindow> window;
    return window;
}

bool OpenOnTheDesktop(const QUrl& link)
{
    return QDesktopServices::openUrl(link);
}

HelpWindow::ExternalOpener& ExternalOpenerSlot()
{
    static HelpWindow::ExternalOpener opener = OpenOnTheDesktop;
    return opener;
}

// Relative links and qrc: ones stay among the bundled pages; http, mailto
// and the rest are the desktop's to open.
bool LeavesTheHelp(const QUrl& link)
{
    return !link.isRelative() && link.scheme() != QLatin1String("qrc");
}

}  // namespace

HelpWindow* HelpWindow::showHelp(QWidget* owner, const QString& topic)
{
    QPointer<HelpWindow>& window = CurrentWindow();
    if (!window)
        window = new HelpWindow(owner);
    window->showTopic(topic);
    // show(), never exec(): the caller and a playing song go on at once.
    window->show();
    if (window->isMinimized())
        window->showNormal();
    window->raise();
    window->activateWindow();
    return window;
}

HelpWindow* HelpWindow::current()
{
    return CurrentWindow();
}

QUrl HelpWindow::topicUrl(const QString& topic)
{
    return QUrl(QStringLiteral("qrc:/%1/").arg(QLatin1String(kHelpFile))).resolved(QUrl(topic));
}

void HelpWindow::setExternalOpener(ExternalOpener opener)
{
    ExternalOpenerSlot() = opener ? std::move(opener) : ExternalOpener(OpenOnTheDesktop);
}

HelpWindow::HelpWindow(QWidget* owner) : QMainWindow(owner, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowModality(Qt::NonModal);
    resize(kWidth, kHeight);

    browser_ = new QTextBrowser(this);
    // Links are followed here, so that one leaving the pages goes to the
    // desktop instead of blanking the window.
    browser_->setOpenLinks(false);
    setCentralWidget(browser_);

    QToolBar* bar = addToolBar(tr("Navigation"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    back_ = bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), tr("Back"), browser_, &QTextBrowser::backward);
    back_->setShortcut(QKeySequence::Back);
    forward_ =
        bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), tr("Forward"), browser_, &QTextBrowser::forward);
    forward_->setShortcut(QKeySequence::Forward);
    QAction* home = bar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), tr("Home"), this,
                                   [this] { showTopic(QString::fromLatin1(kHelpTopic)); });
    home->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));
    back_->setEnabled(false);
    forward_->setEnabled(false);

    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::anchorClicked, this, &HelpWindow::followLink);
    connect(browser_, &QTextBrowser::sourceChanged, this, &HelpWindow::updateTitle);
}

void HelpWindow::showTopic(const QString& topic)
{
    const QUrl target = topicUrl(topic);
    // The same page again would only add a step to the history.
    if (browser_->source() != target)
        browser_->setSource(target);
}

void HelpWindow::followLink(const QUrl& link)
{
    if (LeavesTheHelp(link)) {
        ExternalOpenerSlot()(link);
        return;
    }
    browser_->setSource(browser_->source().resolved(link));
}

void HelpWindow::updateTitle()
{
    const QString title = browser_->documentTitle();
    setWindowTitle(title.isEmpty() ? tr("Sonrigo Help") : title);
}

}  // namespace sonrigo
