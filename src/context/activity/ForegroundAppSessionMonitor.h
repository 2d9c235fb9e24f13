#pragma once

#include <cstdint>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>

namespace velnote {

// An application running on the desktop.
struct RunningApplication {
    std::int64_t pid = 0;
    std::string name; // its display name; empty when the desktop does not tell
    // What identifies the application across runs (on this desktop the executable's file name);
    // none when unknown.
    std::optional<std::string> bundleIdentifier{};
    // Where it is installed (the executable's path); none when unknown.
    std::optional<std::string> bundlePath{};

    bool operator==(const RunningApplication&) const = default;
};

// Foreground-activity tracking of one recording: follows the front application and window and
// writes the foreground and activity logs into the session folder. Driven on the main thread.
class ForegroundAppSessionMonitor {
  public:
    virtual ~ForegroundAppSessionMonitor() = default;

    // Observes application activation and logs each new front application.
    virtual void subscribeToAppActivation() = 0;
    // Records `application` as the current front application.
    virtual void logForegroundAppChange(const RunningApplication& application) = 0;
    // Polls the front application every 5 s on the main thread.
    virtual void startPolling() = 0;
    // Removes the observer and the timer, finalises the open activities and writes the final
    // activity snapshot; ready when done.
    virtual std::future<void> stop() = 0;
};

// Builds the monitors and tells the front application. The activity-tracking service installs the
// real one.
class ForegroundActivityTracking {
  public:
    virtual ~ForegroundActivityTracking() = default;
    // A monitor for `sessionDir` with its files prepared; never fails.
    virtual std::shared_ptr<ForegroundAppSessionMonitor>
    makeMonitor(const std::filesystem::path& sessionDir) = 0;
    // The application in front now; none when the desktop cannot tell.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
};

} // namespace velnote
