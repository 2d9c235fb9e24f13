#pragma once

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/Timer.h"

#include <memory>
#include <thread>

namespace velnote::platform {

// Fires one-shot and repeating timers on the clock it is given, handing each callback to the
// executor the timer names (a SerialExecutor, the pool, the MainDispatcher).
//
// On a real clock a thread of the scheduler waits for the next due time. On a ManualClock there
// is no thread: ManualClock::advance() posts the callbacks that have come due before it returns,
// so a test advances the clock and then runs the target executor.
//
// A repeating timer never has more than one callback queued or running: the next firing is
// planned when the callback has finished, at the next multiple of the interval after that moment
// counted from the first due time; ticks missed by a slow callback are skipped, not piled up.
//
// Each target executor must outlive the handles of the timers that post to it.
class TimerScheduler {
  public:
    // `clock` must outlive the scheduler.
    explicit TimerScheduler(Clock& clock);
    // Stops firing; callbacks already handed to their executors still run unless cancelled.
    ~TimerScheduler();

    TimerScheduler(const TimerScheduler&) = delete;
    TimerScheduler& operator=(const TimerScheduler&) = delete;

    // The process-wide scheduler on the system clock.
    static TimerScheduler& shared();

    // Fires `callback` once on `target` after `delay` (zero or negative: as soon as possible).
    [[nodiscard]] Timer once(Clock::Duration delay, Executor& target, Job callback);
    // Fires `callback` on `target` every `interval` (must be positive, else std::invalid_argument),
    // the first time one interval from now.
    [[nodiscard]] Timer repeating(Clock::Duration interval, Executor& target, Job callback);

    Clock& clock() const;

  private:
    struct Core;
    struct Entry;

    Timer schedule(Clock::Duration delay, Clock::Duration interval, Executor& target, Job callback);

    std::shared_ptr<Core> core_;
    std::shared_ptr<void> advanceRegistration_;
    std::thread thread_;
};

} // namespace velnote::platform
