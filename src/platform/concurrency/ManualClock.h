#pragma once

#include "platform/concurrency/Clock.h"

#include <mutex>
#include <vector>

namespace velnote::platform {

// A clock for tests: time stands still until advance() moves steady and wall time together.
// Thread-safe; timers scheduled on it fire inside advance() (see TimerScheduler).
class ManualClock final : public Clock {
  public:
    // Defaults: steady time one day after the steady epoch (so "now - 1 hour" stays valid),
    // wall time 2024-01-01T00:00:00Z.
    ManualClock();
    ManualClock(SteadyTime steadyStart, WallTime wallStart);

    SteadyTime now() const override;
    WallTime wallNow() const override;

    // Moves both clocks forward by `by` (must not be negative), then calls the advance listeners.
    void advance(Duration by);

    [[nodiscard]] std::shared_ptr<void> onAdvance(std::function<void()> listener) override;

  private:
    using Listener = std::function<void()>;

    mutable std::mutex mutex_;
    SteadyTime steady_;
    WallTime wall_;
    std::vector<std::weak_ptr<Listener>> listeners_;
};

} // namespace velnote::platform
