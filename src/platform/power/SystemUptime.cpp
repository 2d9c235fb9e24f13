#include "platform/power/SystemUptime.h"

#include <ctime>

namespace velnote::platform {

std::chrono::nanoseconds systemUptime() {
    timespec now{};
    // CLOCK_BOOTTIME exists on every kernel we run on; should it fail, "long up" is the safe
    // answer: it only shortens a start-up delay.
    if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return std::chrono::hours{24};
    return std::chrono::seconds{now.tv_sec} + std::chrono::nanoseconds{now.tv_nsec};
}

} // namespace velnote::platform
