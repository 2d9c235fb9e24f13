#pragma once

#include "context/screen/DisplayDirectory.h"
#include "context/screen/ScreenCaptureMonitoring.h"
#include "session/config/SessionConfig.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace velnote {
namespace platform {
class SettingsStore;
}

// The choices the recording controller makes for screen capture. Stateless; main thread (the
// display directory is asked there).
struct ScreenCaptureChoices {
    // The display a picker index stands for: that entry of the directory's list, else (an index
    // past the end, or a negative one) the main display.
    static std::uint32_t displayID(DisplayDirectory& displays, std::int64_t displayIndex);

    // The screen that shows `displayID`, else the first (main) screen; none without screens.
    static std::optional<DisplayScreen> screenFor(const std::vector<DisplayScreen>& screens,
                                                  std::uint32_t displayID);

    // A region dragged in desktop coordinates, moved into `screen`'s own coordinates.
    static ScreenRect regionOnScreen(const ScreenRect& dragged, const DisplayScreen& screen);

    // A new monitor's settings: the session, its start, the display of the configuration's
    // index, and the four timings from the settings ("screenshotPollNormal" 2 s,
    // "screenshotPollVideo" 4 s, "screenshotSaveMinNormal" 3 s, "screenshotSaveMinVideo" 20 s
    // where a stored value is absent, 0 or less, or not a number).
    static ScreenCaptureMonitorSettings
    monitorSettings(const std::filesystem::path& sessionDir,
                    std::chrono::system_clock::time_point sessionStartedAt, const SessionConfig& config,
                    DisplayDirectory& displays, platform::SettingsStore& settings);
};

} // namespace velnote
