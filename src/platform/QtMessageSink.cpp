#include "platform/QtMessageSink.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace sonrigo {

// What the sink shares with its receiver, which may outlive it.
struct QtMessageSink::Queue {
    // A thread that reports in a loop would otherwise fill memory with boxes
    // that nobody can click through; beyond this, new messages are dropped.
    static constexpr std::size_t kMostWaiting = 256;

    Presenter present;
    std::thread::id uiThread;
    std::mutex mutex;
    std::deque<QString> waiting;
    // The object on the user-interface thread that shows what other threads
    // queue, the event counter they wake it with and its notifier; null and
    // -1 once the application or the sink lets it go. Set and cleared under
    // the mutex, so that no thread writes to the counter while it closes.
    QObject* receiver = nullptr;
    int wakeFd = -1;
    QSocketNotifier* notifier = nullptr;
    // Touched on the user-interface thread only: a box is open further up
    // its stack.
    bool presenting = false;

    // Under the mutex, with a receiver.
    void wakeReceiver()
    {
        // Never blocks: a full counter has woken the receiver already.
        const std::uint64_t one = 1;
        (void)!::write(wakeFd, &one, sizeof one);
    }

    // Shows the messages waiting now, oldest first, one box at a time. Those
    // that come meanwhile wait for the next wake, so that a thread that
    // keeps sending cannot hold the user-interface thread here; the
    // notifier rests while a box is open, and the wakes it misses stay in
    // the counter. On the user-interface thread only, not while presenting.
    void drain()
    {
        presenting = true;
        std::size_t count = 0;
        QPointer<QSocketNotifier> paused;
        {
            const std::lock_guard lock(mutex);
            count = waiting.size();
            paused = notifier;
        }
        if (paused)
            paused->setEnabled(false);
        for (; count > 0; --count) {
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
        if (paused)
            paused->setEnabled(true);
        presenting = false;
    }
};

namespace {

// A child of the application, so that the application's teardown tells the
// sink, before anything else of it is gone, that nothing is to be shown any
// more. Other threads wake it through an event counter rather than through
// Qt's event queue: the hand-over then goes only through the queue's own
// lock, which the thread checker sees, and no Qt call is made off the
// user-interface thread.
class Receiver final : public QObject {
public:
    Receiver(const std::shared_ptr<QtMessageSink::Queue>& queue, QObject* application, int wakeFd)
        : QObject(application), queue_(queue), wakeFd_(wakeFd), notifier_(wakeFd, QSocketNotifier::Read, this)
    {
        connect(&notifier_, &QSocketNotifier::activated, this, [this] {
            std::uint64_t count = 0;
            (void)!::read(wakeFd_, &count, sizeof count);
            std::shared_ptr<QtMessageSink::Queue> shared = queue_.lock();
            if (shared && !shared->presenting)
                shared->drain();
        });
    }
    QSocketNotifier* notifier() { return &notifier_; }
    ~Receiver() override
    {
        if (std::shared_ptr<QtMessageSink::Queue> queue = queue_.lock()) {
            const std::lock_guard lock(queue->mutex);
            if (queue->receiver == this) {
                queue->receiver = nullptr;
                queue->wakeFd = -1;
                queue->notifier = nullptr;
                queue->waiting.clear();
            }
        }
        notifier_.setEnabled(false);
        ::close(wakeFd_);
    }

private:
    std::weak_ptr<QtMessageSink::Queue> queue_;
    int wakeFd_;
    QSocketNotifier notifier_;
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
    QCoreApplication* application = QCoreApplication::instance();
    const int wakeFd = application != nullptr ? ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
    if (wakeFd >= 0) {
        auto* receiver = new Receiver(queue_, application, wakeFd);
        const std::lock_guard lock(queue_->mutex);
        queue_->receiver = receiver;
        queue_->wakeFd = wakeFd;
        queue_->notifier = receiver->notifier();
    }
}

QtMessageSink::~QtMessageSink()
{
    const std::lock_guard lock(queue_->mutex);
    // The last owner may let go on any thread (ShowMessage holds the sink
    // while it shows); off the user-interface thread the receiver, cut off
    // here, goes with the application.
    if (queue_->receiver != nullptr && std::this_thread::get_id() == queue_->uiThread)
        queue_->receiver->deleteLater();
    queue_->receiver = nullptr;
    queue_->wakeFd = -1;
    queue_->notifier = nullptr;
}

void QtMessageSink::show(std::string_view text)
{
    // Held for the boxes' whole time: what they run may let go of the sink.
    const std::shared_ptr<Queue> queue = queue_;
    const bool onUiThread = std::this_thread::get_id() == queue->uiThread;
    {
        const std::lock_guard lock(queue->mutex);
        if (queue->receiver == nullptr || queue->waiting.size() >= Queue::kMostWaiting)
            return;
        queue->waiting.push_back(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        // Inside an open box this thread cannot wait for its own: the
        // receiver shows it once that box is closed.
        if (!onUiThread || queue->presenting) {
            queue->wakeReceiver();
            return;
        }
    }
    queue->drain();
}

void QtMessageSink::showBox(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationCaption(), text, QMessageBox::Ok);
    box.exec();
}

}  // namespace sonrigo
