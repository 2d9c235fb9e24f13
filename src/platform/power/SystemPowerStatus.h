#pragma once

#include "platform/power/PowerProfiles.h"
#include "platform/power/PowerStatus.h"
#include "platform/power/ThermalZones.h"

namespace velnote::platform {

// PowerStatus of this machine: power-profiles-daemon for the low-power mode, the kernel's thermal
// zones for the thermal state. Without the daemon the low-power mode reads as off.
class SystemPowerStatus final : public PowerStatus {
  public:
    explicit SystemPowerStatus(PowerProfiles profiles = PowerProfiles(), ThermalZones zones = ThermalZones());

    // On the system bus and /sys/class/thermal; created on first use.
    static SystemPowerStatus& shared();

    bool isLowPowerModeEnabled() override;
    ThermalState thermalState() override;

  private:
    PowerProfiles profiles_;
    ThermalZones zones_;
};

} // namespace velnote::platform
