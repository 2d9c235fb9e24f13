#pragma once

#include "context/screen/DisplayDirectory.h"
#include "context/screen/ScreenGrabber.h"
#include "platform/display/X11Screen.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace velnote {

// The displays and screenshots of the X display: each RandR monitor is one display, identified by
// its name atom; without RandR monitors the whole screen is display 1. Desktop coordinates are the
// root window's pixels, y downwards (X has no separate point unit, so a region is cut out 1:1).
// Connects on first use and again after a failure. Any thread.
class X11DisplayCapture final : public DisplayDirectory, public ScreenGrabber {
  public:
    // `displayName`: the X display to use; none: $DISPLAY.
    explicit X11DisplayCapture(std::optional<std::string> displayName = std::nullopt);

    // The monitors in order, the primary first, named by RandR ("Display <n>" by position when a
    // monitor has no name). Empty without a display.
    std::vector<AvailableDisplay> enumerate() override;
    // The primary monitor's identifier; 1 without a display.
    std::uint32_t mainDisplayID() override;
    std::vector<DisplayScreen> screens() override;

    std::optional<platform::RgbImage> captureDisplayImage(std::uint32_t displayID,
                                                          const std::optional<ScreenRect>& region) override;

  private:
    std::vector<platform::DisplayMonitor> monitors();
    std::shared_ptr<platform::X11Screen> screen();

    std::optional<std::string> displayName_;
    std::mutex mutex_;
    std::shared_ptr<platform::X11Screen> screen_; // under mutex_; none until connected
};

} // namespace velnote
