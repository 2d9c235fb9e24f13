#pragma once

#include "platform/logging/Logger.h"

namespace velnote {

// The application's loggers, one per category, all under the bundle identifier.
struct VelnoteLogger {
    static const std::string& subsystem();
    static const platform::Logger& app();
    static const platform::Logger& audio();
    static const platform::Logger& transcribe();
    static const platform::Logger& summarize();
    static const platform::Logger& processing();
    static const platform::Logger& performance();
};

// Also the keychain service name and the logging subsystem.
inline constexpr const char* kBundleIdentifier = "io.hushtape.velnote";

} // namespace velnote
