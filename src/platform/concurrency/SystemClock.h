#pragma once

#include "platform/concurrency/Clock.h"

namespace velnote::platform {

// The real clocks: std::chrono::steady_clock and std::chrono::system_clock.
class SystemClock final : public Clock {
  public:
    static SystemClock& shared();

    SteadyTime now() const override;
    WallTime wallNow() const override;
};

} // namespace velnote::platform
