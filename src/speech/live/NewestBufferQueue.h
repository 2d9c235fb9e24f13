#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace velnote {

// The queue between a capture thread and the live transcription: it keeps the newest `capacity`
// values, dropping the oldest waiting one when a push finds it full, so a consumer that falls
// behind costs audio, never a blocked capture. Thread-safe.
//
// The consumer is woken by the push that finds the queue idle (push() returns true); it then
// pops until pop() answers none, which makes the queue idle again.
template <class T> class NewestBufferQueue {
  public:
    explicit NewestBufferQueue(std::size_t capacity) : capacity_(capacity) {}

    struct PushResult {
        bool wakeConsumer = false;
        bool droppedOldest = false;
    };

    // Refused (nothing happens) once closed.
    PushResult push(T value) {
        std::lock_guard lock(mutex_);
        PushResult result;
        if (closed_) {
            return result;
        }
        if (values_.size() >= capacity_) {
            values_.pop_front();
            result.droppedOldest = true;
        }
        values_.push_back(std::move(value));
        result.wakeConsumer = !consumerAwake_;
        consumerAwake_ = true;
        return result;
    }

    // The oldest waiting value; none when empty (the consumer is then idle) or closed.
    std::optional<T> pop() {
        std::lock_guard lock(mutex_);
        if (closed_ || values_.empty()) {
            consumerAwake_ = false;
            return std::nullopt;
        }
        T value = std::move(values_.front());
        values_.pop_front();
        return value;
    }

    // Drops what waits and refuses later pushes.
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        values_.clear();
    }

  private:
    const std::size_t capacity_;
    std::mutex mutex_;
    std::deque<T> values_;
    bool consumerAwake_ = false;
    bool closed_ = false;
};

} // namespace velnote
