#pragma once

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/Timer.h"

namespace velnote::platform {

// One-shot timers due at a calendar time rather than after a delay. The due time is an absolute
// CLOCK_REALTIME instant (timerfd), so a timer whose time passed while the computer slept fires
// as soon as it wakes, and a change of the system clock moves it with the calendar. TimerScheduler
// counts steady time, which stands still during a suspend.
class WallClockTimer {
  public:
    WallClockTimer() = delete;

    // Posts `callback` to `target` once at `due` (at once when `due` has passed). Each armed timer
    // keeps one waiting thread until it fires or its handle is dropped. Throws std::system_error
    // when the kernel refuses the timer.
    [[nodiscard]] static Timer at(Clock::WallTime due, Executor& target, Job callback);
};

} // namespace velnote::platform
