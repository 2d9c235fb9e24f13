#pragma once

#include "engine/diarization/Diarizer.h"

#include <cstdint>
#include <functional>
#include <mutex>

namespace diarith {

// A progress of 100 units that only rises, safe to raise from any thread: each rise calls the
// callback (under the reporter's lock, so the callback sees the values in order).
class ProgressReporter {
  public:
    using Callback = std::function<void(const DiarizationProgress&)>;

    explicit ProgressReporter(Callback callback) : callback_(std::move(callback)) {}

    // Reports the current value, risen or not.
    void report() {
        std::lock_guard lock(mutex_);
        call();
    }
    // Raises the completed count to `units` (0…100) when it is below; otherwise nothing.
    void raiseTo(std::int64_t units) {
        std::lock_guard lock(mutex_);
        if (completed_ >= units)
            return;
        completed_ = units;
        call();
    }
    // Sets the completed count and reports it (a stage that starts anew).
    void set(std::int64_t units) {
        std::lock_guard lock(mutex_);
        completed_ = units;
        call();
    }
    std::int64_t completed() const {
        std::lock_guard lock(mutex_);
        return completed_;
    }

  private:
    void call() {
        if (callback_)
            callback_(DiarizationProgress{.totalUnitCount = 100, .completedUnitCount = completed_});
    }

    mutable std::mutex mutex_;
    std::int64_t completed_ = 0;
    Callback callback_;
};

} // namespace diarith
