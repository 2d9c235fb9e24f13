#include "platform/concurrency/MainDispatcher.h"

namespace velnote::platform {

namespace {

// How often runUntil() looks at its condition when no job arrives: the condition may be made
// true by another thread without posting anything.
constexpr std::chrono::milliseconds pollInterval{2};

void runJob(const Job& job) noexcept {
    job();
}

} // namespace

MainDispatcher::MainDispatcher() : mainThread_(std::this_thread::get_id()) {}

MainDispatcher& MainDispatcher::shared() {
    static MainDispatcher dispatcher;
    return dispatcher;
}

void MainDispatcher::post(Job job) {
    std::unique_lock lock(mutex_);
    if (poster_) {
        auto poster = poster_;
        lock.unlock();
        poster(std::move(job));
        return;
    }
    queue_.push_back(std::move(job));
    lock.unlock();
    arrived_.notify_all();
}

bool MainDispatcher::isMainThread() const {
    return mainThread_.load() == std::this_thread::get_id();
}

void MainDispatcher::setPoster(Poster poster) {
    mainThread_ = std::this_thread::get_id();
    std::lock_guard lock(mutex_);
    poster_ = std::move(poster);
    // Forwarded under the lock so that a job posted meanwhile cannot overtake them.
    while (poster_ && !queue_.empty()) {
        poster_(std::move(queue_.front()));
        queue_.pop_front();
    }
}

bool MainDispatcher::runOne() {
    Job job;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            return false;
        }
        job = std::move(queue_.front());
        queue_.pop_front();
    }
    runJob(job);
    return true;
}

std::size_t MainDispatcher::runPending() {
    mainThread_ = std::this_thread::get_id();
    std::size_t count = 0;
    while (runOne()) {
        ++count;
    }
    return count;
}

bool MainDispatcher::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    mainThread_ = std::this_thread::get_id();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (runOne()) {
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return done();
        }
        std::unique_lock lock(mutex_);
        arrived_.wait_until(lock, std::min(deadline, now + pollInterval), [this] { return !queue_.empty(); });
    }
    return true;
}

} // namespace velnote::platform
