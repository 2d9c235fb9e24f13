#pragma once

#include <mutex>
#include <type_traits>

namespace basalith {

// A plain, non-recursive mutual-exclusion lock. Taking it again on the thread that holds it is a
// misuse (it deadlocks), so a body must not call back into code that takes the same lock.
class UnfairLock {
  public:
    UnfairLock() = default;
    UnfairLock(const UnfairLock&) = delete;
    UnfairLock& operator=(const UnfairLock&) = delete;

    // Runs `body` while holding the lock and returns its result. When `body` throws, the lock is
    // released first and the exception passes on unchanged.
    template <class Body> decltype(auto) withLock(Body&& body) {
        std::lock_guard guard(mutex_);
        return std::forward<Body>(body)();
    }

  private:
    std::mutex mutex_;
};

} // namespace basalith
