#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>

namespace basalith {

// Makes concurrent callers share one attempt: while an operation runs, further callers wait for it
// and receive its outcome, success or the same exception. Once it has ended the next call starts a
// new attempt, also after a failure. Thread-safe.
//
// Stopping: the operation gets a stop token that is requested once every caller sharing the attempt
// has asked to stop, so one caller giving up does not take the models from the others. A joined
// caller whose own token is stopped leaves at once with HubError (Kind::cancelled); the caller that
// runs the operation returns when the operation does.
class LoadModelsCoordinator {
  public:
    // Runs `operation` on the calling thread, or waits for the one already running. Rethrows the
    // attempt's exception.
    void run(const std::function<void(std::stop_token)>& operation, const std::stop_token& stop = {});

    // Callers waiting for an attempt they did not start; lets tests see that they joined.
    std::size_t joinedCallers() const;

  private:
    struct Attempt {
        std::stop_source stop;    // requested when no caller wants the attempt any more
        std::size_t wanting = 0;  // callers that have not asked to stop
        bool ended = false;       // the operation has returned or thrown
        std::exception_ptr error; // its exception, once ended
    };

    void join(std::unique_lock<std::mutex>& lock, std::shared_ptr<Attempt> attempt,
              const std::stop_token& stop);
    // One caller no longer wants `attempt`; the last one stops it.
    void giveUp(Attempt& attempt);

    mutable std::mutex mutex_;
    std::condition_variable_any ended_;
    std::shared_ptr<Attempt> inflight_; // set while an attempt runs
    // The last attempt, kept until the next one starts. Its exception is shared by every caller,
    // and its reference count lives in the C++ runtime, which ThreadSanitizer cannot see; holding it
    // here means the exception is freed after the callers are done with it rather than by whichever
    // caller happens to finish last, which TSan would report as a race with the others' reads.
    std::shared_ptr<Attempt> finished_;
    std::size_t joined_ = 0;
};

} // namespace basalith
