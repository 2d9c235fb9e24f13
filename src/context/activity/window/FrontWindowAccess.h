#pragma once

#include "context/activity/ForegroundAppSessionMonitor.h"
#include "platform/concurrency/ObserverToken.h"
#include "platform/desktop/X11Desktop.h"
#include "platform/image/RgbImage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// The result of one front-window screenshot: an image, or none and a short reason code.
struct CaptureAttempt {
    std::optional<platform::RgbImage> image{};
    std::optional<std::string> reason{}; // "sc_shareable_content_failed", "ax_window_rect_unavailable", ...
};

// The window an application works in: its title and frame, and a screenshot of it.
class FrontWindowAccess {
  public:
    virtual ~FrontWindowAccess() = default;
    // The title of the process's focused window (possibly empty); none when it cannot be read
    // within 300 ms.
    virtual std::optional<std::string> getFrontWindowTitle(std::int64_t pid) = 0;
    // The frame of that window; none likewise.
    virtual std::optional<platform::DesktopRect> getFrontWindowRect(std::int64_t pid) = 0;
    // One screenshot of the process's front window, else of the part of the screen under its
    // frame; never fails, a failure carries its reason.
    virtual CaptureAttempt captureFrontWindowImageWithReason(std::int64_t pid) = 0;
};

// The desktop as the monitor sees it: the application in front and its activations.
class ForegroundWorkspace {
  public:
    virtual ~ForegroundWorkspace() = default;
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    // `changed` may be called on any thread: with the newly active application, or none when the
    // activation named none. Ends when the token goes.
    virtual platform::ObserverToken
    observeActivation(std::function<void(std::optional<RunningApplication>)> changed) = 0;
};

// One screen of the desktop as the display fallback sees it.
struct DesktopScreen {
    platform::DesktopRect frame{};
    double scale = 1;                             // device pixels per unit of the frame
    std::optional<std::uint32_t> displayNumber{}; // the display it shows
};

// One capturable display.
struct CaptureDisplay {
    std::uint32_t displayID = 0;
    double width = 0;
    double height = 0;
};

// The window to capture for `pid` among `windows` (front first): its front-most on-screen window;
// else, among all its windows when none is on screen, the one overlapping the focused frame most,
// else the largest. Windows without a positive size never count.
std::optional<platform::DesktopWindow>
bestShareableWindow(std::int64_t pid, const std::vector<platform::DesktopWindow>& windows,
                    const std::function<std::optional<platform::DesktopRect>()>& focusedFrame);

// The screen `rect` overlaps most (the first on equal overlap), else the main screen (the first).
std::optional<std::size_t> bestScreen(const platform::DesktopRect& rect,
                                      const std::vector<DesktopScreen>& screens);

// The part of the display under `frame`, in display pixels, or none when it lies outside.
std::optional<platform::DesktopRect> displaySourceRect(const platform::DesktopRect& frame,
                                                       const DesktopScreen& screen,
                                                       const CaptureDisplay& display);

} // namespace velnote
