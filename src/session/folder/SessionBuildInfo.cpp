#include "session/folder/SessionBuildInfo.h"

#include "platform/flavor/BuildFlavor.h"
#include "session/VelnoteLogger.h"

namespace velnote {
using platform::Json;

#ifndef VELNOTE_VERSION
#define VELNOTE_VERSION "unknown"
#endif

SessionBuildInfo SessionBuildInfo::current(const platform::Clock& clock) {
    SessionBuildInfo info;
    info.bundleIdentifier = kBundleIdentifier;
    info.version = VELNOTE_VERSION;
    // Builds carry no separate build number.
    info.buildNumber = "unknown";
    info.buildDate = std::chrono::floor<std::chrono::seconds>(clock.wallNow());
    info.isAppStoreBuild = BuildFlavor::isAppStoreBuild();
    return info;
}

void to_json(Json& j, const SessionBuildInfo& b) {
    j = Json::object();
    platform::setIfPresent(j, "bundleIdentifier", b.bundleIdentifier);
    j["version"] = b.version;
    j["buildNumber"] = b.buildNumber;
    j["buildDate"] = b.buildDate;
    j["isAppStoreBuild"] = b.isAppStoreBuild;
}

void from_json(const Json& j, SessionBuildInfo& b) {
    b.bundleIdentifier = platform::optional<std::string>(j, "bundleIdentifier");
    b.version = platform::required<std::string>(j, "version");
    b.buildNumber = platform::required<std::string>(j, "buildNumber");
    b.buildDate = platform::required<std::chrono::sys_seconds>(j, "buildDate");
    b.isAppStoreBuild = platform::required<bool>(j, "isAppStoreBuild");
}

} // namespace velnote
