#pragma once

#include "platform/concurrency/Executor.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <type_traits>

namespace velnote::platform {

// The main thread's queue: the user interface state lives there. In the application the Qt event
// loop runs its jobs (setPoster()); in tests nothing runs them until the test calls runPending()
// or runUntil() (manual mode).
//
// The main thread is the one that last called setPoster(), runPending() or runUntil(); before any
// of these, the thread that constructed the dispatcher.
class MainDispatcher final : public Executor {
  public:
    // Hands a job to the event loop that runs it on the main thread.
    using Poster = std::function<void(Job)>;

    MainDispatcher();
    // Jobs still queued in manual mode are dropped unrun.
    ~MainDispatcher() override = default;

    MainDispatcher(const MainDispatcher&) = delete;
    MainDispatcher& operator=(const MainDispatcher&) = delete;

    // The process-wide dispatcher, created on first use.
    static MainDispatcher& shared();

    // Queues `job` in manual mode, or hands it to the poster when one is set.
    void post(Job job) override;
    bool isMainThread() const;

    // Binds the calling thread as the main thread and routes every job through `poster`, jobs
    // queued so far first, in order. An empty poster returns to manual mode.
    void setPoster(Poster poster);

    // Manual mode: runs queued jobs on the calling thread until the queue is empty, including jobs
    // posted meanwhile. Returns how many ran.
    std::size_t runPending();
    // Manual mode: runs jobs as they come until `done()` is true or `timeout` (real time) has
    // passed; returns done(). done() is checked after every job and every few milliseconds.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // Runs `fn` on the main thread and returns its result (or rethrows its exception). On the main
    // thread it runs inline, so it cannot deadlock there; elsewhere it blocks until the main thread
    // has run it.
    template <class F> auto runAndWait(F&& fn) -> std::invoke_result_t<std::decay_t<F>&> {
        if (isMainThread()) {
            return fn();
        }
        return submit(std::forward<F>(fn)).get();
    }

  private:
    bool runOne();

    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Job> queue_;
    Poster poster_;
    std::atomic<std::thread::id> mainThread_;
};

} // namespace velnote::platform
