#include "platform/concurrency/CallbackGuard.h"

namespace velnote::platform {

namespace {

void runJob(const Job& job) noexcept {
    job();
}

} // namespace

bool CallbackGuard::run(const Job& callback) {
    std::lock_guard lock(running_);
    if (revoked_.load()) {
        return false;
    }
    runner_ = std::this_thread::get_id();
    runJob(callback);
    runner_ = std::thread::id{};
    return true;
}

void CallbackGuard::revoke() {
    revoked_ = true;
    if (runner_.load() != std::this_thread::get_id()) {
        // Taking the lock waits for the call in progress, if any; later calls see revoked_.
        std::lock_guard wait(running_);
    }
}

} // namespace velnote::platform
