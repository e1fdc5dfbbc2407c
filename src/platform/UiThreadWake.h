#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace sonrigo {

// Wakes the user-interface thread from any other: the waker writes to an
// event counter, which the user-interface thread watches, so the sender
// makes no Qt call, takes no lock and allocates nothing. Wakes that come
// close together run onWoken once.
class UiThreadWake final : public QObject {
    Q_OBJECT

public:
    // onWoken runs on the thread that makes this object.
    UiThreadWake(std::function<void()> onWoken, QObject* parent);
    ~UiThreadWake() override;

    // What other threads call. It stays safe to call once this object is
    // gone: it then wakes nothing.
    std::function<void()> waker() const;

private:
    struct Counter;

    std::function<void()> onWoken_;
    std::shared_ptr<Counter> counter_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace sonrigo
