#pragma once

#include "platform/power/ThermalState.h"

#include <filesystem>

namespace velnote::platform {

// The machine's thermal state from the kernel's thermal zones: each "thermal_zone*" folder holds
// the zone's "temp" and its trip points ("trip_point_<n>_temp" and "trip_point_<n>_type"), all
// temperatures in millidegrees Celsius. A zone counts as hot as the hottest kind of trip point its
// temperature has reached; the machine as its hottest zone.
class ThermalZones {
  public:
    // `sysfsRoot`: the folder holding the zones; tests pass a fake tree.
    explicit ThermalZones(std::filesystem::path sysfsRoot = "/sys/class/thermal");

    // nominal when there is no zone or nothing can be read. Never throws.
    ThermalState read() const;

  private:
    std::filesystem::path root_;
};

} // namespace velnote::platform
