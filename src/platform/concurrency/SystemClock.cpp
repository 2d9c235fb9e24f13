#include "platform/concurrency/SystemClock.h"

namespace velnote::platform {

SystemClock& SystemClock::shared() {
    static SystemClock clock;
    return clock;
}

Clock::SteadyTime SystemClock::now() const {
    return std::chrono::steady_clock::now();
}

Clock::WallTime SystemClock::wallNow() const {
    return std::chrono::system_clock::now();
}

} // namespace velnote::platform
