#pragma once

#include <exception>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace velnote::platform {

// Runs jobs on threads of their own and waits for all of them. The first job to throw requests
// stop on the group's token, which every job is handed, so the others can end early; wait()
// then rethrows that first error. A stop requested through `parent` reaches the jobs as well.
class WorkerGroup {
  public:
    explicit WorkerGroup(const std::stop_token& parent = {})
        : forward_(parent, [this] { stop_.request_stop(); }) {}
    ~WorkerGroup() { joinAll(); }
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    void add(std::function<void(std::stop_token)> job) {
        threads_.emplace_back([this, job = std::move(job)] {
            try {
                job(stop_.get_token());
            } catch (...) {
                {
                    std::lock_guard lock(mutex_);
                    if (!error_)
                        error_ = std::current_exception();
                }
                stop_.request_stop();
            }
        });
    }

    std::stop_token stopToken() const { return stop_.get_token(); }

    // Waits for every job; rethrows the first error.
    void wait() {
        joinAll();
        std::lock_guard lock(mutex_);
        if (error_)
            std::rethrow_exception(error_);
    }

  private:
    void joinAll() {
        for (auto& thread : threads_) {
            if (thread.joinable())
                thread.join();
        }
    }

    std::stop_source stop_;
    std::stop_callback<std::function<void()>> forward_;
    std::mutex mutex_;
    std::exception_ptr error_;
    std::vector<std::thread> threads_;
};

} // namespace velnote::platform
