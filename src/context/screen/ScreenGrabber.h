#pragma once

#include "app/state/ScreenRect.h"
#include "platform/image/RgbImage.h"

#include <cstdint>
#include <optional>

namespace velnote {

// Takes screenshots of one display for the screenshot monitor. Any thread.
class ScreenGrabber {
  public:
    virtual ~ScreenGrabber() = default;
    // The display `displayID` (a DisplayDirectory identifier; the first display when none has it),
    // or only `region` of it (pixels from the display's top-left corner, y downwards, cut to the
    // display), scaled down to fit 1920 × 1080. None when there is no display or the capture
    // fails (logged).
    virtual std::optional<platform::RgbImage>
    captureDisplayImage(std::uint32_t displayID, const std::optional<ScreenRect>& region) = 0;
};

} // namespace velnote
