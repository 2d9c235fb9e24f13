#pragma once

#include "platform/concurrency/Clock.h"

#include <stop_token>

namespace velnote::platform {

// Blocks the calling thread until `deadline` on `clock` or until stop is requested on `stop`,
// whichever comes first. True when the deadline came, false when stopped (also when stop was
// requested before the call). A deadline already passed returns true at once.
//
// Taking a deadline rather than a delay lets a caller fix the wake-up time before it does what a
// test watches for, so the test can move a ManualClock without racing the sleep's start.
bool sleepUntil(Clock& clock, Clock::SteadyTime deadline, const std::stop_token& stop);

} // namespace velnote::platform
