#pragma once

#include "platform/concurrency/Executor.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace velnote::platform {

// Lets the owner of a callback that was handed to an executor take it back: after revoke()
// returns, the callback is not running and will not start. Used by timers and the directory
// watcher so that destroying their handle is enough to make the callback's captures safe to free.
class CallbackGuard {
  public:
    // Calls `callback` unless revoked; returns whether it was called. Calls through one guard
    // never overlap.
    bool run(const Job& callback);

    // Stops future calls and waits for a call in progress on another thread. Called from inside
    // the callback itself it does not wait (it could not). Waiting means the revoking thread must
    // not hold anything the running callback needs.
    void revoke();

    bool isRevoked() const { return revoked_.load(); }

  private:
    std::mutex running_;
    std::atomic<bool> revoked_{false};
    std::atomic<std::thread::id> runner_{};
};

} // namespace velnote::platform
