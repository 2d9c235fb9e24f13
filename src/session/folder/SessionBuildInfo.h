#pragma once

#include "platform/concurrency/SystemClock.h"
#include "platform/json/IsoDate.h"

#include <chrono>
#include <optional>
#include <string>

namespace velnote {

// The application build that made a "session.json".
struct SessionBuildInfo {
    std::optional<std::string> bundleIdentifier;
    std::string version;                  // the application's version, or "unknown"
    std::string buildNumber;              // the build's number, or "unknown"
    std::chrono::sys_seconds buildDate{}; // when this record was made, not when the program was built
    bool isAppStoreBuild = false;

    // The running application's record, dated `clock.wallNow()`.
    static SessionBuildInfo current(const platform::Clock& clock = platform::SystemClock::shared());

    bool operator==(const SessionBuildInfo&) const = default;
};

void to_json(platform::Json& j, const SessionBuildInfo& b);
void from_json(const platform::Json& j, SessionBuildInfo& b);

} // namespace velnote
