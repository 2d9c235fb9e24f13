#include "platform/power/SystemPowerStatus.h"

namespace velnote::platform {

SystemPowerStatus::SystemPowerStatus(PowerProfiles profiles, ThermalZones zones)
    : profiles_(std::move(profiles)), zones_(std::move(zones)) {}

SystemPowerStatus& SystemPowerStatus::shared() {
    static SystemPowerStatus status;
    return status;
}

bool SystemPowerStatus::isLowPowerModeEnabled() {
    return PowerProfiles::isPowerSaver(profiles_.activeProfile());
}

ThermalState SystemPowerStatus::thermalState() {
    return zones_.read();
}

} // namespace velnote::platform
