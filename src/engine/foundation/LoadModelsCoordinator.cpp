#include "engine/foundation/LoadModelsCoordinator.h"

#include <utility>

namespace basalith {

void LoadModelsCoordinator::run(const std::function<void()>& operation) {
    std::unique_lock lock(mutex_);
    if (inflight_.valid()) {
        std::shared_future<void> attempt = inflight_;
        ++joined_;
        lock.unlock();
        attempt.wait();
        {
            std::lock_guard relock(mutex_);
            --joined_;
        }
        attempt.get();
        return;
    }
    std::promise<void> promise;
    std::shared_future<void> attempt = promise.get_future().share();
    inflight_ = attempt;
    lock.unlock();

    std::exception_ptr error;
    try {
        operation();
    } catch (...) {
        error = std::current_exception();
    }
    finish(promise, error);
    attempt.get();
}

void LoadModelsCoordinator::finish(std::promise<void>& promise, std::exception_ptr error) {
    {
        std::lock_guard lock(mutex_);
        finished_ = std::exchange(inflight_, {});
    }
    if (error) {
        promise.set_exception(error);
    } else {
        promise.set_value();
    }
}

std::size_t LoadModelsCoordinator::joinedCallers() const {
    std::lock_guard lock(mutex_);
    return joined_;
}

} // namespace basalith
