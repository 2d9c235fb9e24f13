#include "platform/concurrency/ThreadPool.h"

#include <algorithm>

namespace velnote::platform {

namespace {

constexpr std::size_t minimumThreads = 2;

void runJob(const Job& job) noexcept {
    job();
}

std::size_t resolvedThreadCount(std::size_t requested) {
    return std::max(requested == 0 ? std::size_t{std::thread::hardware_concurrency()} : requested,
                    minimumThreads);
}

} // namespace

ThreadPool::ThreadPool(std::size_t threadCount) : threadCount_(resolvedThreadCount(threadCount)) {
    workers_.reserve(threadCount_);
    for (std::size_t i = 0; i < threadCount_; ++i) {
        workers_.emplace_back([this] { runWorker(); });
    }
}

ThreadPool::~ThreadPool() {
    std::deque<Job> dropped;
    std::deque<Job> droppedBackground;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropped.swap(utility_);
        droppedBackground.swap(background_);
    }
    wake_.notify_all();
    for (auto& worker : workers_) {
        worker.join();
    }
    // The dropped jobs die here, outside the lock: their captures may post elsewhere.
}

ThreadPool& ThreadPool::shared() {
    static ThreadPool pool;
    return pool;
}

void ThreadPool::post(Job job) {
    post(std::move(job), Priority::utility);
}

void ThreadPool::post(Job job, Priority priority) {
    {
        std::lock_guard lock(mutex_);
        (priority == Priority::utility ? utility_ : background_).push_back(std::move(job));
    }
    // notify_all: a worker woken for a background job it may not take must not swallow the wake-up.
    wake_.notify_all();
}

Executor& ThreadPool::executor(Priority priority) {
    return priority == Priority::utility ? static_cast<Executor&>(utilityExecutor_) : backgroundExecutor_;
}

bool ThreadPool::canTakeBackground() const {
    return !background_.empty() && backgroundRunning_ + 1 < threadCount_;
}

void ThreadPool::runWorker() {
    for (;;) {
        Job job;
        bool isBackground = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !utility_.empty() || canTakeBackground(); });
            if (stopping_) {
                return;
            }
            if (!utility_.empty()) {
                job = std::move(utility_.front());
                utility_.pop_front();
            } else {
                job = std::move(background_.front());
                background_.pop_front();
                isBackground = true;
                ++backgroundRunning_;
            }
        }
        runJob(job);
        job = nullptr;
        if (isBackground) {
            {
                std::lock_guard lock(mutex_);
                --backgroundRunning_;
            }
            wake_.notify_all();
        }
    }
}

} // namespace velnote::platform
