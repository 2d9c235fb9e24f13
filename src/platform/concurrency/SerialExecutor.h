#pragma once

#include "platform/concurrency/Executor.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace velnote::platform {

// Runs jobs one at a time, in the order they were posted, on a thread of its own. An actor owns
// one and touches its state only from jobs on it.
class SerialExecutor final : public Executor {
  public:
    SerialExecutor();
    // Drains: runs every job still queued, including jobs those jobs post, then joins the thread.
    // A job that keeps re-posting itself therefore keeps the destructor waiting. Must not be
    // called from a job of this executor.
    ~SerialExecutor() override;

    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    void post(Job job) override;

    // True when the caller runs on this executor's thread (to assert isolation).
    bool isCurrent() const;

  private:
    void runLoop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    bool stopping_ = false;
    std::thread thread_;
    std::thread::id threadId_;
};

} // namespace velnote::platform
