#include "engine/foundation/LoadModelsCoordinator.h"

#include "engine/foundation/HubError.h"

#include <utility>

namespace basalith {

void LoadModelsCoordinator::run(const std::function<void(std::stop_token)>& operation,
                                const std::stop_token& stop) {
    std::unique_lock lock(mutex_);
    if (inflight_)
        return join(lock, inflight_, stop);
    const auto attempt = std::make_shared<Attempt>();
    attempt->wanting = 1;
    inflight_ = attempt;
    lock.unlock();

    std::exception_ptr error;
    {
        std::stop_callback leave(stop, [&] { giveUp(*attempt); });
        try {
            operation(attempt->stop.get_token());
        } catch (...) {
            error = std::current_exception();
        }
    }
    lock.lock();
    attempt->ended = true;
    attempt->error = error;
    finished_ = std::exchange(inflight_, nullptr);
    lock.unlock();
    ended_.notify_all();
    if (error)
        std::rethrow_exception(error);
}

void LoadModelsCoordinator::join(std::unique_lock<std::mutex>& lock, std::shared_ptr<Attempt> attempt,
                                 const std::stop_token& stop) {
    ++joined_;
    ++attempt->wanting;
    const bool ended = ended_.wait(lock, stop, [&] { return attempt->ended; });
    --joined_;
    if (!ended) {
        lock.unlock();
        giveUp(*attempt);
        throw HubError(HubError::Kind::cancelled, "stopped while waiting for the models");
    }
    const std::exception_ptr error = attempt->error;
    lock.unlock();
    if (error)
        std::rethrow_exception(error);
}

void LoadModelsCoordinator::giveUp(Attempt& attempt) {
    bool last = false;
    {
        std::lock_guard lock(mutex_);
        last = !attempt.ended && --attempt.wanting == 0;
    }
    if (last)
        attempt.stop.request_stop();
}

std::size_t LoadModelsCoordinator::joinedCallers() const {
    std::lock_guard lock(mutex_);
    return joined_;
}

} // namespace basalith
