#pragma once

#include "platform/concurrency/Executor.h"

#include <cstddef>
#include <deque>
#include <mutex>

namespace velnote::testing {

// An executor whose jobs wait until the test runs them, one at a time or all, so the order in
// which asynchronous answers arrive is the test's choice.
class QueuedExecutor final : public platform::Executor {
  public:
    void post(platform::Job job) override {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }

    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return jobs_.size();
    }

    // Runs the job at `index` (0 = oldest); false when there is none.
    bool runAt(std::size_t index) {
        platform::Job job;
        {
            std::lock_guard lock(mutex_);
            if (index >= jobs_.size()) {
                return false;
            }
            job = std::move(jobs_[index]);
            jobs_.erase(jobs_.begin() + static_cast<std::ptrdiff_t>(index));
        }
        job();
        return true;
    }

    std::size_t runAll() {
        std::size_t count = 0;
        while (runAt(0)) {
            ++count;
        }
        return count;
    }

  private:
    mutable std::mutex mutex_;
    std::deque<platform::Job> jobs_;
};

} // namespace velnote::testing
