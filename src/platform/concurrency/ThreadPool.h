#pragma once

#include "platform/concurrency/Executor.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace velnote::platform {

enum class Priority {
    utility,    // work the user is waiting for, sooner or later
    background, // work nobody waits for; yields to utility work
};

// A fixed set of worker threads shared by the process for utility and background work.
//
// Scheduling is strict and simple: a free worker always takes the oldest utility job first, and
// takes a background job only when no utility job waits. Background jobs also never occupy more
// than threadCount() - 1 workers, so one worker is always left for utility work that arrives
// while long background jobs run.
class ThreadPool final : public Executor {
  public:
    // threadCount 0 = std::thread::hardware_concurrency(); at least 2 in every case.
    explicit ThreadPool(std::size_t threadCount = 0);
    // Discards the jobs that have not started (their futures report broken_promise), waits for
    // the running ones, joins the workers.
    ~ThreadPool() override;

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // The process-wide pool, created on first use.
    static ThreadPool& shared();

    // Queues at utility priority.
    void post(Job job) override;
    void post(Job job, Priority priority);

    // An executor that posts to this pool at `priority` (for submit() and startTask()).
    Executor& executor(Priority priority);

    std::size_t threadCount() const { return threadCount_; }

  private:
    class PriorityExecutor final : public Executor {
      public:
        PriorityExecutor(ThreadPool& pool, Priority priority) : pool_(pool), priority_(priority) {}
        void post(Job job) override { pool_.post(std::move(job), priority_); }

      private:
        ThreadPool& pool_;
        Priority priority_;
    };

    void runWorker();
    bool canTakeBackground() const;

    // Fixed before the workers start: they read it while the vector below still grows.
    std::size_t threadCount_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> utility_;
    std::deque<Job> background_;
    std::size_t backgroundRunning_ = 0;
    bool stopping_ = false;
    PriorityExecutor utilityExecutor_{*this, Priority::utility};
    PriorityExecutor backgroundExecutor_{*this, Priority::background};
    std::vector<std::thread> workers_;
};

} // namespace velnote::platform
