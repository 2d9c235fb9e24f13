#pragma once

#include <chrono>

namespace velnote::platform {

// How long the machine has been up, time spent suspended included (CLOCK_BOOTTIME).
std::chrono::nanoseconds systemUptime();

} // namespace velnote::platform
