#pragma once

#include "platform/power/ThermalState.h"

namespace velnote::platform {

// What long-running work asks of the machine's power situation before it starts, so it can run at
// a lower scheduling class when the user saves power or the machine runs hot. Each call reads the
// current state anew; calls may block briefly (a D-Bus round trip, a few sysfs files).
class PowerStatus {
  public:
    virtual ~PowerStatus() = default;

    // True while the user has chosen to save power (the "power-saver" profile).
    virtual bool isLowPowerModeEnabled() = 0;
    virtual ThermalState thermalState() = 0;
};

} // namespace velnote::platform
