#pragma once

#include "app/state/ScreenRect.h"

#include <cstdint>
#include <optional>

namespace velnote {

// Where the running-session adjustments of the application state reach the services of the
// recording: the live summary and the screenshot monitor. The recording controller implements
// it. Called on the main thread; every operation hands its work on and returns at once.
class RecordingAdjustments {
  public:
    virtual ~RecordingAdjustments() = default;

    // The live summary switch or interval changed (the interval already within 1...60).
    virtual void updateLiveSummarySettings(bool enabled, std::int64_t intervalMinutes) = 0;
    // The screenshot region changed; none means the whole display.
    virtual void updateCaptureRegion(std::optional<ScreenRect> region) = 0;
    // The display picker chose another display.
    virtual void changeScreenshotDisplay(std::int64_t displayIndex) = 0;
};

} // namespace velnote
