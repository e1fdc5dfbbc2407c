#include "app/HelpWindow.h"

#include <string>
#include <string_view>
#include <vector>

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "common/ErrorTexts.h"
#include "common/ScopedMessageCapture.h"
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

// Every page of the folder is built in, and every link leads to a bundled
// page and anchor: a link that misses would leave the reader on a blank window.
TEST(HelpPages, EveryPageIsBuiltInAndEveryLinkLeadsToABundledPageAndAnchor)
{
    const QStringList files = QDir(QStringLiteral(SONRIGO_HELP_DIR)).entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& name : files)
        EXPECT_TRUE(QFile::exists(kPages + QLatin1Char('/') + name)) << name.toStdString() << " is not in the resources";

    const QRegularExpression link(QStringLiteral(R"re((?:href|src)\s*=\s*"([^"]*)")re"));
    int links = 0;
    for (QDirIterator page(kPages, {QStringLiteral("*.htm")}, QDir::Files); page.hasNext();) {
        const QString path = page.next();
        const QUrl base(QLatin1String("qrc") + path);
        for (auto it = link.globalMatch(ReadPage(path)); it.hasNext(); ++links) {
            const QUrl target = base.resolved(QUrl(it.next().captured(1)));
            if (target.scheme() != QLatin1String("qrc"))
                continue;
            const std::string where = (path + QLatin1String(" -> ") + target.toString()).toStdString();
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

// The messages page keeps up with the texts: one added to a table without a
// word on the page fails here. The instrument host keeps its texts to itself:
// they are taken from what it shows for plug-ins that fail each of its checks
// (the first line; a second one gives the system's reason).
TEST(HelpPages, MessagesPageShowsEveryTextOfTheEngineAndWhyAnInstrumentDidNotLoad)
{
    QTextDocument document;  // what a reader sees, markup and entities resolved
    document.setHtml(ReadPage(kPages + QLatin1String("/messages.htm")));
    const QString shown = document.toPlainText();
    std::vector<std::string> texts;
    for (std::string_view text : {kMidiStatusErrorText, kCallBackPlayerErrorText, kMidiFileCannotBeOpenedText})
        texts.emplace_back(text);
    for (const ErrorTable* table : {&kGeneralErrors, &kMidiTrackDataErrors, &kMidiF0DataErrors, &kMidiF1DataErrors,
                                    &kMidiFileLoaderErrors, &kMidiPlayerErrors, &kMusicPlayerErrors,
                                    &kMidiControlerErrors}) {
        texts.emplace_back(table->catchAll());
        for (const ErrorText& entry : table->texts())
            texts.emplace_back(entry.text);
    }
    for (const char* path : {"/no/such/instrument.so", SONRIGO_PROBE_NO_ENTRY_PATH, SONRIGO_PROBE_NULL_INSTANCE_PATH,
                             SONRIGO_PROBE_WRONG_MAGIC_PATH}) {
        ScopedMessageCapture messages;
        EXPECT_FALSE(VstPlugin(44100.0f, 882, 512).load(path));
        const std::vector<std::string> shownForPath = messages.take();
        ASSERT_EQ(shownForPath.size(), 1u) << path;
        texts.push_back(shownForPath[0].substr(0, shownForPath[0].find('\n')));
    }
    for (const std::string& text : texts)
        EXPECT_TRUE(shown.contains(QString::fromStdString(text))) << "not on the messages page: " << text;
}

class HelpWindowTest : public testing::Test {
protected:
    void TearDown() override
    {
        HelpWindow::setExternalOpener({});
        delete HelpWindow::current();
    }
};

// One window, titled by its page: links stay inside it, external ones go to
// the desktop, Back goes one page back, and a second show raises it at the
// topic. The main dialog may run modally: the help, its own window, still
// takes clicks.
TEST_F(HelpWindowTest, OneWindowTitledByItsPageThatTakesClicksWhileItsOwnerRunsModally)
{
    std::vector<QUrl> opened;
    HelpWindow::setExternalOpener([&opened](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    QDialog owner;
    owner.setWindowModality(Qt::ApplicationModal);
    owner.show();
    HelpWindow* window = HelpWindow::showHelp(&owner);
    ASSERT_NE(window, nullptr);
    QTextBrowser* browser = window->browser();
    EXPECT_EQ(browser->source(), QUrl(QStringLiteral("qrc:/Sonrigo.chm/index.htm")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sonrigo Help"));
    window->grab().save(QStringLiteral(SONRIGO_SCREENSHOT_DIR "/help-index.png"));

    emit browser->anchorClicked(QUrl(QStringLiteral("routing.htm")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Sonrigo Help: Routing the channels"));
    emit browser->anchorClicked(QUrl(QStringLiteral("messages.htm#audio")));
    const QUrl external(QStringLiteral("https://example.org/sonrigo"));
    emit browser->anchorClicked(external);
    EXPECT_EQ(browser->source(), HelpWindow::topicUrl(QStringLiteral("messages.htm#audio")));
    EXPECT_EQ(opened, std::vector<QUrl>{external});
    QToolButton* back = nullptr;
    for (QToolButton* button : window->findChildren<QToolButton*>())
        if (button->defaultAction() != nullptr && button->defaultAction()->text() == QStringLiteral("Back"))
            back = button;
    ASSERT_NE(back, nullptr);
    // Through the window system, where a modal dialog blocks other windows
    // (a click sent to the widget itself would pass by the modality check).
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      back->mapTo(window, back->rect().center()));
    EXPECT_EQ(browser->source(), HelpWindow::topicUrl(QStringLiteral("routing.htm")));

    EXPECT_EQ(HelpWindow::showHelp(&owner), window);
    EXPECT_EQ(browser->source(), HelpWindow::topicUrl(QLatin1String(kHelpTopic)));
}

}  // namespace
}  // namespace sonrigo
