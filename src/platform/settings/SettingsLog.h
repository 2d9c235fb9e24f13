#pragma once

#include "platform/logging/Logger.h"

namespace velnote::platform {

inline const Logger& settingsLogger() {
    static const Logger log("velnote", "settings");
    return log;
}

} // namespace velnote::platform
