#include "platform/concurrency/SerialExecutor.h"

#include <cassert>

namespace velnote::platform {

namespace {

// An exception escaping a job is a bug; terminate here rather than leave the actor half-updated.
void runJob(const Job& job) noexcept {
    job();
}

} // namespace

SerialExecutor::SerialExecutor() : thread_([this] { runLoop(); }), threadId_(thread_.get_id()) {}

SerialExecutor::~SerialExecutor() {
    assert(!isCurrent());
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void SerialExecutor::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
}

bool SerialExecutor::isCurrent() const {
    return std::this_thread::get_id() == threadId_;
}

void SerialExecutor::runLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        runJob(job);
    }
}

} // namespace velnote::platform
