#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace sonrigo {

// The one installed implementation of a process-wide service (the timer
// service, the MIDI output system, the editor host): replaced by an Install
// function, read by a Current one, from any thread.
template <typename Service>
class InstalledService {
public:
    // Installs next and hands back the one it replaces, so that the caller can
    // let it go outside the lock (a timer service joins its thread then).
    std::shared_ptr<Service> exchange(std::shared_ptr<Service> next)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(installed_, std::move(next));
    }

    // The installed one; with none, makeDefault() is installed first.
    template <typename MakeDefault>
    std::shared_ptr<Service> current(MakeDefault makeDefault)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!installed_)
            installed_ = makeDefault();
        return installed_;
    }

    std::shared_ptr<Service> current()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return installed_;
    }

private:
    std::mutex mutex_;
    std::shared_ptr<Service> installed_;
};

}  // namespace sonrigo
