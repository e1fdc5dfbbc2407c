#include "app/HelpWindow.h"

#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "common/ErrorTexts.h"
#include "support/CaptureMessages.h"
#include "vsthost/VstPlugin.h"

namespace sonrigo {
namespace {

const QString kPages = QStringLiteral(":/%1").arg(QLatin1String(kHelpFile));

QString ReadPage(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

std::vector<QString> BundledPages()
{
    std::vector<QString> pages;
    for (QDirIterator it(kPages, {QStringLiteral("*.htm")}, QDir::Files); it.hasNext();)
        pages.push_back(it.next());
    return pages;
}

TEST(HelpPages, EveryPageOfTheFolderIsBuiltIn)
{
    const QStringList files = QDir(QStringLiteral(SONRIGO_HELP_DIR)).entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& name : files)
        EXPECT_TRUE(QFile::exists(kPages + QLatin1Char('/') + name)) << name.toStdString() << " is not in the resources";
}

// A link that misses a page or an anchor would leave the reader on a blank window.
TEST(HelpPages, EveryLinkLeadsToABundledPageAndAnchor)
{
    const QRegularExpression link(QStringLiteral(R"re((?:href|src)\s*=\s*"([^"]*)")re"));
    const std::vector<QString> pages = BundledPages();
    ASSERT_FALSE(pages.empty());
    int links = 0;
    for (const QString& page : pages) {
        const QUrl base(QLatin1String("qrc") + page);
        for (auto it = link.globalMatch(ReadPage(page)); it.hasNext(); ++links) {
            const QUrl target = base.resolved(QUrl(it.next().captured(1)));
            if (target.scheme() != QLatin1String("qrc"))
                continue;
            const std::string where = (page + QLatin1String(" -> ") + target.toString()).toStdString();
            const QString file = QLatin1Char(':') + target.path();
            ASSERT_TRUE(QFile::exists(file)) << where;
            if (target.hasFragment()) {
                const QString anchor = QStringLiteral("name=\"%1\"").arg(target.fragment());
                EXPECT_TRUE(ReadPage(file).contains(anchor)) << where;
            }
        }
    }
    EXPECT_GT(links, 0);
}

// What a reader of the messages page sees, markup and entities resolved.
QString MessagesPageText()
{
    QTextDocument document;
    document.setHtml(ReadPage(kPages + QLatin1String("/messages.htm")));
    return document.toPlainText();
}

QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The messages page keeps up with the texts: one added to a table without a
// word on the page fails here.
TEST(HelpPages, MessagesPageShowsEveryTextOfTheEngine)
{
    const QString shown = MessagesPageText();
    std::vector<std::string_view> texts = {kMidiStatusErrorText, kCallBackPlayerErrorText, kMidiFileCannotBeOpenedText};
    for (const ErrorTable* table : {&kGeneralErrors, &kMidiTrackDataErrors, &kMidiF0DataErrors, &kMidiF1DataErrors,
                                    &kMidiFileLoaderErrors, &kMidiPlayerErrors, &kMusicPlayerErrors,
                                    &kMidiControlerErrors}) {
        texts.push_back(table->catchAll());
        for (const ErrorText& entry : table->texts())
            texts.push_back(entry.text);
    }
    for (std::string_view text : texts)
        EXPECT_TRUE(shown.contains(FromUtf8(text))) << "not on the messages page: " << text;
}

// The instrument host keeps its texts to itself: they are taken from what it
// shows for plug-ins that fail each of its checks (the first line; a second
// one gives the system's reason).
TEST(HelpPages, MessagesPageShowsWhyAnInstrumentDidNotLoad)
{
    const QString shown = MessagesPageText();
    for (const char* path : {"/no/such/instrument.so", SONRIGO_PROBE_NO_ENTRY_PATH, SONRIGO_PROBE_NULL_INSTANCE_PATH,
                             SONRIGO_PROBE_WRONG_MAGIC_PATH}) {
        test::CaptureMessages messages;
        EXPECT_FALSE(VstPlugin(44100.0f, 882, 512).load(path));
        const std::vector<std::string> texts = messages.take();
        ASSERT_EQ(texts.size(), 1u) << path;
        const std::string firstLine = texts[0].substr(0, texts[0].find('\n'));
        EXPECT_TRUE(shown.contains(FromUtf8(firstLine))) << "not on the messages page: " << firstLine;
    }
}

QToolButton* ToolButton(const HelpWindow& window, const QString& text)
{
    for (QToolBar* bar : window.findChildren<QToolBar*>()) {
        for (QAction* action : bar->actions()) {
            if (action->text() == text)
                return qobject_cast<QToolButton*>(bar->widgetForAction(action));
        }
    }
    return nullptr;
}

class HelpWindowTest : public testing::Test {
protected:
    void TearDown() override
    {
        HelpWindow::setExternalOpener({});
        delete HelpWindow::current();
    }
};

TEST_F(HelpWindowTest, OpensAtTheStartPageTitledByIt)
{
    HelpWindow* window = HelpWindow::showHelp(nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->browser()->source(), QUrl(QStringLiteral("qrc:/Sonrigo.chm/index.htm")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sonrigo Help"));
    EXPECT_TRUE(window->browser()->toPlainText().contains(QStringLiteral("Sonrigo plays Standard MIDI Files")));
    window->grab().save(QStringLiteral(SONRIGO_SCREENSHOT_DIR "/help-index.png"));
}

TEST_F(HelpWindowTest, SecondShowRaisesTheSameWindowAtTheTopic)
{
    QWidget owner;
    HelpWindow* first = HelpWindow::showHelp(&owner);
    first->showTopic(QStringLiteral("messages.htm"));
    HelpWindow* second = HelpWindow::showHelp(&owner);
    EXPECT_EQ(first, second);
    int helpWindows = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        helpWindows += qobject_cast<HelpWindow*>(widget) != nullptr ? 1 : 0;
    EXPECT_EQ(helpWindows, 1);
    EXPECT_EQ(second->browser()->source(), HelpWindow::topicUrl(QLatin1String(kHelpTopic)));
}

TEST_F(HelpWindowTest, LinksStayInsideAndExternalOnesGoToTheDesktop)
{
    std::vector<QUrl> opened;
    HelpWindow::setExternalOpener([&opened](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    HelpWindow* window = HelpWindow::showHelp(nullptr);
    QTextBrowser* browser = window->browser();

    emit browser->anchorClicked(QUrl(QStringLiteral("routing.htm")));
    EXPECT_EQ(browser->source(), HelpWindow::topicUrl(QStringLiteral("routing.htm")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sonrigo Help: Routing the channels"));

    emit browser->anchorClicked(QUrl(QStringLiteral("messages.htm#audio")));
    const QUrl external(QStringLiteral("https://example.org/sonrigo"));
    emit browser->anchorClicked(external);
    EXPECT_EQ(browser->source(), HelpWindow::topicUrl(QStringLiteral("messages.htm#audio")));
    EXPECT_EQ(opened, std::vector<QUrl>{external});

    QToolButton* back = ToolButton(*window, QStringLiteral("Back"));
    ASSERT_NE(back, nullptr);
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(browser->source(), HelpWindow::topicUrl(QStringLiteral("routing.htm")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sonrigo Help: Routing the channels"));
}

// The main dialog may run modally: the help, its own window, still takes clicks.
TEST_F(HelpWindowTest, TakesClicksWhileItsOwnerRunsModally)
{
    QDialog owner;
    owner.setWindowModality(Qt::ApplicationModal);
    owner.show();
    HelpWindow* window = HelpWindow::showHelp(&owner);
    window->showTopic(QStringLiteral("playing.htm"));
    QToolButton* back = ToolButton(*window, QStringLiteral("Back"));
    ASSERT_NE(back, nullptr);
    // Through the window system, where a modal dialog blocks other windows
    // (a click sent to the widget itself would pass by the modality check).
    const QPoint at = back->mapTo(window, back->rect().center());
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(window->browser()->source(), HelpWindow::topicUrl(QLatin1String(kHelpTopic)));
}

}  // namespace
}  // namespace sonrigo
