#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <future>
#include <thread>
#include <vector>

#include "platform/QtMessageSink.h"
#include "support/Gate.h"

namespace sonrigo {
namespace {

// Stands in for the box: records what it shows, whether any was shown off
// the user-interface thread, and the most boxes open at once.
class BoxRecorder {
public:
    QtMessageSink::Presenter presenter()
    {
        return [this](const QString& text) {
            texts.push_back(text);
            offUiThread = offUiThread || QThread::currentThread() != QCoreApplication::instance()->thread();
            mostOpen = std::max(mostOpen, ++open_);
            if (whileOpen)
                whileOpen();
            --open_;
        };
    }

    std::vector<QString> texts;
    bool offUiThread = false;
    int mostOpen = 0;
    // Runs inside every box, as the box's own event loop would.
    std::function<void()> whileOpen;

private:
    int open_ = 0;
};

// Sends the texts from a thread of its own; true when it returned within the
// patience while the user-interface thread ran no events.
bool sendFromAnotherThread(QtMessageSink& sink, const std::vector<std::string>& texts)
{
    std::promise<void> sent;
    std::future<void> returned = sent.get_future();
    std::thread sender([&] {
        for (const std::string& text : texts)
            sink.show(text);
        sent.set_value();
    });
    const bool inTime = returned.wait_for(test::Gate::kPatience) == std::future_status::ready;
    if (!inTime)
        QTest::qWait(0);
    sender.join();
    return inTime;
}

TEST(QtMessageSink, OtherThreadsQueueTheirMessagesForTheUiThreadWithoutWaiting)
{
    BoxRecorder boxes;
    QtMessageSink sink(boxes.presenter());
    ASSERT_TRUE(sendFromAnotherThread(sink, {"Cant open file!", "音源を読み込めません"}));
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.texts.size() == 2; }, test::Gate::kPatience.count()));

    // The user-interface thread's own message comes after those queued before it.
    ASSERT_TRUE(sendFromAnotherThread(sink, {"General Error"}));
    sink.show("mine");
    EXPECT_EQ(boxes.texts, (std::vector<QString>{"Cant open file!", "音源を読み込めません", "General Error", "mine"}));
    EXPECT_FALSE(boxes.offUiThread);
}

TEST(QtMessageSink, MessagesArrivingWhileABoxIsOpenWaitForItToClose)
{
    BoxRecorder boxes;
    QtMessageSink sink(boxes.presenter());
    boxes.whileOpen = [&] {
        boxes.whileOpen = nullptr;
        EXPECT_TRUE(sendFromAnotherThread(sink, {"from the timer"}));
        sink.show("from a handler inside the box");
        QTest::qWait(20);  // the box's own event loop, running while it is open
    };
    sink.show("open");
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.texts.size() == 3; }, test::Gate::kPatience.count()));
    EXPECT_EQ(boxes.texts, (std::vector<QString>{"open", "from the timer", "from a handler inside the box"}));
    EXPECT_EQ(boxes.mostOpen, 1);
}

// A thread that reports again for every box shown must not keep the
// user-interface thread in its own show(): it returns after its own box.
TEST(QtMessageSink, UiThreadMessageReturnsWhileAnotherThreadKeepsSending)
{
    BoxRecorder boxes;
    QtMessageSink sink(boxes.presenter());
    bool sending = true;
    boxes.whileOpen = [&] {
        if (sending)
            std::thread([&sink] { sink.show("again"); }).join();
    };
    sink.show("mine");
    sending = false;
    EXPECT_EQ(boxes.texts, std::vector<QString>{"mine"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.texts.size() == 2; }, test::Gate::kPatience.count()));
}

}  // namespace
}  // namespace sonrigo
