#pragma once

#include "session/VelnoteLogger.h"

#include <filesystem>
#include <string>

namespace velnote::queue_logging {

inline const platform::Logger& log() {
    return VelnoteLogger::processing();
}

// How log lines name a session: its folder's name.
inline std::string nameOf(const std::filesystem::path& sessionDir) {
    return sessionDir.filename().string();
}

} // namespace velnote::queue_logging
