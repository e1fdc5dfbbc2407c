#include "platform/QtMessageSink.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QObject>

#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace sonrigo {

// What the sink shares with the events it posts and with its receiver: the
// events may run, and the receiver may go, after the sink is gone.
struct QtMessageSink::Queue {
    Presenter present;
    std::thread::id uiThread;
    std::mutex mutex;
    std::deque<QString> waiting;
    // The object on the user-interface thread that posted events go to; null
    // once the application destroys it. Read and cleared under the mutex, so
    // that no event is posted to it while it goes.
    QObject* receiver = nullptr;
    // Touched on the user-interface thread only: a box is open further up
    // its stack.
    bool presenting = false;

    // Shows every waiting message, one box at a time. On the user-interface
    // thread only.
    void drain()
    {
        if (presenting)
            return;
        presenting = true;
        for (;;) {
            QString text;
            {
                const std::lock_guard lock(mutex);
                if (waiting.empty() || receiver == nullptr || QCoreApplication::closingDown())
                    break;
                text = std::move(waiting.front());
                waiting.pop_front();
            }
            present(text);
        }
        presenting = false;
    }
};

namespace {

// A child of the application, so that the application's teardown tells the
// sink, before anything else of it is gone, that nothing is to be posted or
// shown any more.
class Receiver final : public QObject {
public:
    Receiver(std::weak_ptr<QtMessageSink::Queue> queue, QObject* application)
        : QObject(application), queue_(std::move(queue))
    {
    }
    ~Receiver() override
    {
        if (std::shared_ptr<QtMessageSink::Queue> queue = queue_.lock()) {
            const std::lock_guard lock(queue->mutex);
            queue->receiver = nullptr;
            queue->waiting.clear();
        }
    }

private:
    std::weak_ptr<QtMessageSink::Queue> queue_;
};

QString applicationCaption()
{
    const QString name = QCoreApplication::applicationName();
    // Unset, Qt answers the name the program was started by; the player's
    // own name reads better.
    const QString startedAs = QFileInfo(QCoreApplication::arguments().value(0)).fileName();
    if (name.isEmpty() || name == startedAs)
        return QStringLiteral("Sonrigo");
    return name;
}

}  // namespace

QtMessageSink::QtMessageSink(Presenter present) : queue_(std::make_shared<Queue>())
{
    queue_->present = std::move(present);
    queue_->uiThread = std::this_thread::get_id();
    if (QCoreApplication* application = QCoreApplication::instance())
        queue_->receiver = new Receiver(queue_, application);
}

QtMessageSink::~QtMessageSink()
{
    const std::lock_guard lock(queue_->mutex);
    if (queue_->receiver != nullptr)
        queue_->receiver->deleteLater();
    queue_->receiver = nullptr;
}

void QtMessageSink::show(std::string_view text)
{
    const bool onUiThread = std::this_thread::get_id() == queue_->uiThread;
    {
        const std::lock_guard lock(queue_->mutex);
        if (queue_->receiver == nullptr)
            return;
        queue_->waiting.push_back(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        if (!onUiThread) {
            QMetaObject::invokeMethod(
                queue_->receiver,
                [weak = std::weak_ptr<Queue>(queue_)] {
                    if (std::shared_ptr<Queue> queue = weak.lock())
                        queue->drain();
                },
                Qt::QueuedConnection);
            return;
        }
    }
    queue_->drain();
}

void QtMessageSink::showBox(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationCaption(), text, QMessageBox::Ok);
    box.exec();
}

}  // namespace sonrigo
