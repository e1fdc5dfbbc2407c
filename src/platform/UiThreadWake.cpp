#include "platform/UiThreadWake.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace sonrigo {

struct UiThreadWake::Counter {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~Counter()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

UiThreadWake::UiThreadWake(std::function<void()> onWoken, QObject* parent)
    : QObject(parent), onWoken_(std::move(onWoken)), counter_(std::make_shared<Counter>())
{
    if (counter_->fd < 0)
        return;
    notifier_ = new QSocketNotifier(counter_->fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        std::uint64_t count = 0;
        if (::read(counter_->fd, &count, sizeof count) == sizeof count && onWoken_)
            onWoken_();
    });
}

UiThreadWake::~UiThreadWake()
{
    // The counter stays with the wakers still held; nothing watches it now.
    delete notifier_;
}

std::function<void()> UiThreadWake::waker() const
{
    return [counter = counter_] {
        const std::uint64_t one = 1;
        // Full only after 2^64 - 1 wakes nobody took: a lost wake is harmless then.
        [[maybe_unused]] const ssize_t written = ::write(counter->fd, &one, sizeof one);
    };
}

}  // namespace sonrigo
