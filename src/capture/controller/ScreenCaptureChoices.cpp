#include "capture/controller/ScreenCaptureChoices.h"

#include "platform/settings/SettingsStore.h"

namespace velnote {
namespace {

// Seconds from the settings; a value that is absent, not above 0 or not a number takes `fallback`.
double secondsSetting(platform::SettingsStore& settings, const char* key, double fallback) {
    const double stored = settings.doubleValue(key);
    return stored > 0 ? stored : fallback;
}

} // namespace

std::uint32_t ScreenCaptureChoices::displayID(DisplayDirectory& displays, std::int64_t displayIndex) {
    const std::vector<AvailableDisplay> list = displays.enumerate();
    if (displayIndex >= 0 && static_cast<std::uint64_t>(displayIndex) < list.size()) {
        return list[static_cast<std::size_t>(displayIndex)].displayID;
    }
    return displays.mainDisplayID();
}

std::optional<DisplayScreen> ScreenCaptureChoices::screenFor(const std::vector<DisplayScreen>& screens,
                                                             std::uint32_t displayID) {
    for (const DisplayScreen& screen : screens) {
        if (screen.displayID == displayID) {
            return screen;
        }
    }
    if (screens.empty()) {
        return std::nullopt;
    }
    return screens.front();
}

ScreenRect ScreenCaptureChoices::regionOnScreen(const ScreenRect& dragged, const DisplayScreen& screen) {
    return ScreenRect{.x = dragged.x - screen.frame.x,
                      .y = dragged.y - screen.frame.y,
                      .width = dragged.width,
                      .height = dragged.height};
}

ScreenCaptureMonitorSettings ScreenCaptureChoices::monitorSettings(
    const std::filesystem::path& sessionDir, std::chrono::system_clock::time_point sessionStartedAt,
    const SessionConfig& config, DisplayDirectory& displays, platform::SettingsStore& settings) {
    ScreenCaptureMonitorSettings s;
    s.sessionDir = sessionDir;
    s.sessionStartedAt = sessionStartedAt;
    s.displayID = displayID(displays, config.capture.screenshotDisplayIndex);
    s.pollNormal = secondsSetting(settings, "screenshotPollNormal", 2);
    s.pollVideo = secondsSetting(settings, "screenshotPollVideo", 4);
    s.saveMinNormal = secondsSetting(settings, "screenshotSaveMinNormal", 3);
    s.saveMinVideo = secondsSetting(settings, "screenshotSaveMinVideo", 20);
    return s;
}

} // namespace velnote
