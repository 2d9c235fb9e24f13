#include "platform/power/ThermalState.h"

namespace velnote::platform {

std::string_view thermalStateName(ThermalState state) {
    switch (state) {
    case ThermalState::nominal:
        return "nominal";
    case ThermalState::fair:
        return "fair";
    case ThermalState::serious:
        return "serious";
    case ThermalState::critical:
        return "critical";
    }
    return "nominal";
}

} // namespace velnote::platform
