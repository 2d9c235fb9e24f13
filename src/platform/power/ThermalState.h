#pragma once

#include <string_view>

namespace velnote::platform {

// How hot the machine runs, from cool to about to shut down. Ordered: a later value is hotter.
enum class ThermalState {
    nominal,  // no cooling needed
    fair,     // fans are on (an "active" trip point passed)
    serious,  // the kernel throttles (a "passive" trip point passed)
    critical, // a "hot" or "critical" trip point passed
};

std::string_view thermalStateName(ThermalState state);

} // namespace velnote::platform
