#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>

namespace velnote::platform {

// An unbounded first-in first-out queue for several producers and consumers. Each value goes to
// exactly one consumer, in arrival order. close() ends it: later pushes are refused, and takers
// get the values still queued, then "end".
template <class T> class ClosableQueue {
  public:
    // False (and the value dropped) once the queue is closed.
    bool push(T value) {
        {
            std::lock_guard lock(mutex_);
            if (closed_)
                return false;
            values_.push_back(std::move(value));
        }
        ready_.notify_one();
        return true;
    }

    void close() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        ready_.notify_all();
    }

    // The next value; waits while the queue is open and empty. None ("end") once it is closed and
    // empty, or as soon as stop is requested on `stop` (queued values then stay queued).
    std::optional<T> take(const std::stop_token& stop = {}) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, stop, [this] { return closed_ || !values_.empty(); });
        if (stop.stop_requested() || values_.empty())
            return std::nullopt;
        T value = std::move(values_.front());
        values_.pop_front();
        return value;
    }

  private:
    std::mutex mutex_;
    std::condition_variable_any ready_;
    std::deque<T> values_;
    bool closed_ = false;
};

} // namespace velnote::platform
