#pragma once

#include <cstddef>
#include <functional>
#include <future>
#include <mutex>

namespace basalith {

// Makes concurrent callers share one attempt: while an operation runs, further callers wait for it
// and receive its outcome, success or the same exception. Once it has ended the next call starts a
// new attempt, also after a failure. Thread-safe.
class LoadModelsCoordinator {
  public:
    // Runs `operation` on the calling thread, or waits for the one already running. Rethrows the
    // attempt's exception.
    void run(const std::function<void()>& operation);

    // Callers waiting for an attempt they did not start; lets tests see that they joined.
    std::size_t joinedCallers() const;

  private:
    void finish(std::promise<void>& promise, std::exception_ptr error);

    mutable std::mutex mutex_;
    std::shared_future<void> inflight_; // valid while an attempt runs
    // The last attempt, kept until the next one starts. Its exception is shared by every caller,
    // and its reference count lives in the C++ runtime, which ThreadSanitizer cannot see; holding it
    // here means the exception is freed after the callers are done with it rather than by whichever
    // caller happens to finish last, which TSan would report as a race with the others' reads.
    std::shared_future<void> finished_;
    std::size_t joined_ = 0;
};

} // namespace basalith
