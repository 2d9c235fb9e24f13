#pragma once

#include "context/activity/ForegroundAppSessionMonitor.h"
#include "context/activity/window/FrontWindowAccess.h"
#include "platform/concurrency/ObserverToken.h"
#include "platform/concurrency/TimerScheduler.h"

#include <functional>
#include <memory>
#include <optional>

namespace velnote {

// The front window on the X11 desktop. An application's focused window is the active window when
// the process owns it, else its front-most window; its title and frame come from EWMH. Screenshots
// are taken from the X server: the window's own pixels, else the part of the root window under
// its frame. The desktop is one screen (the root window) at one device pixel per unit.
//
// Reading window properties needs no permission on X11, so there is no trust test and no prompt
// here. Without a display every lookup gives none and every capture "sc_shareable_content_failed".
// Safe from any thread.
class X11FrontWindowAccess final : public FrontWindowAccess {
  public:
    // `desktop`: nullptr for none. `timers` bounds the lookups (300 ms).
    X11FrontWindowAccess(std::shared_ptr<platform::X11Desktop> desktop, platform::TimerScheduler& timers);

    std::optional<std::string> getFrontWindowTitle(std::int64_t pid) override;
    std::optional<platform::DesktopRect> getFrontWindowRect(std::int64_t pid) override;
    CaptureAttempt captureFrontWindowImageWithReason(std::int64_t pid) override;

  private:
    std::optional<std::uint32_t> focusedWindow(std::int64_t pid);
    std::optional<CaptureAttempt> attemptCapture(const platform::DesktopWindow& window);
    CaptureAttempt attemptDisplayCaptureFallback(std::int64_t pid);

    std::shared_ptr<platform::X11Desktop> desktop_;
    platform::TimerScheduler& timers_;
};

// The application in front and its activations, on the X11 desktop: the owner of the active
// window, named by WM_CLASS and identified by its executable.
class X11Workspace final : public ForegroundWorkspace {
  public:
    explicit X11Workspace(std::shared_ptr<platform::X11Desktop> desktop);

    std::optional<RunningApplication> frontmostApplication() override;
    // Calls `changed` on a thread of its own each time another application becomes active, with
    // that application, or with none when the active window tells no process. Ends when the token
    // goes (waiting for a call in progress). Without a display nothing is ever called.
    platform::ObserverToken
    observeActivation(std::function<void(std::optional<RunningApplication>)> changed) override;

    // The application of process `pid`, with `windowClass` as its name when given.
    static RunningApplication application(std::int64_t pid, const std::optional<std::string>& windowClass);

  private:
    std::shared_ptr<platform::X11Desktop> desktop_;
};

} // namespace velnote
