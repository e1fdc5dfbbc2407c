#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "common/MessageSink.h"

namespace sonrigo {

// Shows messages in modal boxes on the user-interface thread, one at a time
// and in the order they were sent. A message from another thread is queued
// for the user-interface thread and show() returns at once: the timer and
// playback threads never wait for a box or for that thread, and make no Qt
// call. On the user-interface thread show() first shows the messages already
// waiting, then its own, and returns when those boxes are closed; called
// while a box is open (from that box's event loop), it queues the message
// behind the open box and returns.
//
// Construct it on the user-interface thread once the QApplication exists;
// without one every message is dropped. Messages are dropped once the
// application is being destroyed, and the sink may outlive it and may be
// destroyed on any thread.
class QtMessageSink final : public MessageSink {
public:
    // Shows one message and returns when it is dismissed; called on the
    // user-interface thread.
    using Presenter = std::function<void(const QString& text)>;

    explicit QtMessageSink(Presenter present = &QtMessageSink::showBox);
    ~QtMessageSink() override;
    QtMessageSink(const QtMessageSink&) = delete;
    QtMessageSink& operator=(const QtMessageSink&) = delete;

    void show(std::string_view text) override;

    // The real presenter: a modal box with one OK button, captioned with the
    // application's name.
    static void showBox(const QString& text);

    // What the sink shares with its posted events; no part of the interface.
    struct Queue;

private:
    std::shared_ptr<Queue> queue_;
};

}  // namespace sonrigo
