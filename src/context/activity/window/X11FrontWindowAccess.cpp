#include "context/activity/window/X11FrontWindowAccess.h"

#include "context/activity/inference/TimeLimit.h"
#include "context/activity/window/WindowImages.h"
#include "session/VelnoteLogger.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace velnote {

using platform::DesktopRect;

X11FrontWindowAccess::X11FrontWindowAccess(std::shared_ptr<platform::X11Desktop> desktop,
                                           platform::TimerScheduler& timers)
    : desktop_(std::move(desktop)), timers_(timers) {}

std::optional<std::uint32_t> X11FrontWindowAccess::focusedWindow(std::int64_t pid) {
    if (const auto active = desktop_->activeWindow(); active && desktop_->windowPid(*active) == pid) {
        return active;
    }
    for (const auto& window : desktop_->windowsFrontToBack()) {
        if (window.pid == pid) {
            return window.id;
        }
    }
    return std::nullopt;
}

namespace {

// The lookup runs on the caller's thread; the X server answers at once even for a hung client, so
// the limit only guards against a stalled server connection.
template <class T>
std::optional<T> limitedLookup(platform::TimerScheduler& timers, const char* what, std::int64_t pid,
                               const std::function<std::optional<T>()>& lookup) {
    try {
        return withTimeLimit<std::optional<T>>(0.3, timers, {}, [&](std::stop_token) { return lookup(); });
    } catch (const std::exception&) {
        VelnoteLogger::app().error("{} timeout for pid={}", what, pid);
        return std::nullopt;
    }
}

} // namespace

std::optional<std::string> X11FrontWindowAccess::getFrontWindowTitle(std::int64_t pid) {
    if (!desktop_) {
        return std::nullopt;
    }
    return limitedLookup<std::string>(timers_, "getFrontWindowTitle", pid,
                                      [&]() -> std::optional<std::string> {
                                          const auto window = focusedWindow(pid);
                                          return window ? desktop_->windowTitle(*window) : std::nullopt;
                                      });
}

std::optional<DesktopRect> X11FrontWindowAccess::getFrontWindowRect(std::int64_t pid) {
    if (!desktop_) {
        return std::nullopt;
    }
    return limitedLookup<DesktopRect>(timers_, "getFrontWindowRect", pid,
                                      [&]() -> std::optional<DesktopRect> {
                                          const auto window = focusedWindow(pid);
                                          return window ? desktop_->windowFrame(*window) : std::nullopt;
                                      });
}

CaptureAttempt X11FrontWindowAccess::captureFrontWindowImageWithReason(std::int64_t pid) {
    if (!desktop_) {
        VelnoteLogger::app().error("captureFrontWindow: SCShareableContent failed: {}", "no X display");
        return {.reason = "sc_shareable_content_failed"};
    }
    const auto windows = desktop_->windowsFrontToBack();
    if (const auto window = bestShareableWindow(pid, windows, [&] { return getFrontWindowRect(pid); })) {
        if (auto attempt = attemptCapture(*window)) {
            return std::move(*attempt);
        }
    }
    return attemptDisplayCaptureFallback(pid);
}

std::optional<CaptureAttempt> X11FrontWindowAccess::attemptCapture(const platform::DesktopWindow& window) {
    const int width = std::max(1, static_cast<int>(window.frame.width));
    const int height = std::max(1, static_cast<int>(window.frame.height));
    auto image = desktop_->capture(window.id, 0, 0, width, height);
    if (!image) {
        VelnoteLogger::app().error("ForegroundAppSessionMonitor: window capture failed: {}",
                                   "the X server gave no image of window " + std::to_string(window.id));
        return std::nullopt;
    }
    if (blankScore(*image) >= kBlankCaptureScore) {
        return std::nullopt;
    }
    return CaptureAttempt{.image = std::move(image)};
}

CaptureAttempt X11FrontWindowAccess::attemptDisplayCaptureFallback(std::int64_t pid) {
    const auto r = getFrontWindowRect(pid);
    if (!r || !std::isfinite(r->x) || !std::isfinite(r->y) || !std::isfinite(r->width) ||
        !std::isfinite(r->height) || r->width <= 0 || r->height <= 0) {
        return {.reason = "ax_window_rect_unavailable"};
    }
    const DesktopRect root = desktop_->rootFrame();
    const std::vector<DesktopScreen> screens{{.frame = root, .scale = 1, .displayNumber = 0}};
    const auto screen = bestScreen(*r, screens);
    if (!screen || !screens[*screen].displayNumber) {
        return {.reason = "screen_not_found"};
    }
    const CaptureDisplay display{.displayID = 0, .width = root.width, .height = root.height};
    const auto source = displaySourceRect(*r, screens[*screen], display);
    if (!source) {
        return {.reason = "capture_rect_out_of_bounds"};
    }
    auto image =
        desktop_->capture(desktop_->rootWindow(), static_cast<int>(source->x), static_cast<int>(source->y),
                          static_cast<int>(source->width), static_cast<int>(source->height));
    if (!image) {
        VelnoteLogger::app().error("ForegroundAppSessionMonitor: display capture failed: {}",
                                   "the X server gave no image of the screen");
        return {.reason = "sc_capture_failed"};
    }
    return {.image = std::move(image)};
}

X11Workspace::X11Workspace(std::shared_ptr<platform::X11Desktop> desktop) : desktop_(std::move(desktop)) {}

RunningApplication X11Workspace::application(std::int64_t pid,
                                             const std::optional<std::string>& windowClass) {
    RunningApplication app{.pid = pid, .name = windowClass.value_or("")};
    app.bundlePath = platform::processExecutable(pid);
    if (app.bundlePath) {
        app.bundleIdentifier = std::filesystem::path(*app.bundlePath).filename().string();
    } else if (const auto name = platform::processName(pid)) {
        app.bundleIdentifier = name;
    }
    return app;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
    if (!desktop_) {
        return std::nullopt;
    }
    const auto window = desktop_->activeWindow();
    if (!window) {
        return std::nullopt;
    }
    const auto pid = desktop_->windowPid(*window);
    if (!pid) {
        return std::nullopt;
    }
    return application(*pid, desktop_->windowClass(*window));
}

platform::ObserverToken
X11Workspace::observeActivation(std::function<void(std::optional<RunningApplication>)> changed) {
    auto watcher = platform::X11Desktop::connect();
    const int wake = ::eventfd(0, EFD_CLOEXEC);
    if (!watcher || wake < 0) {
        if (wake >= 0) {
            ::close(wake);
        }
        return {};
    }
    watcher->watchActiveWindow();
    std::shared_ptr<platform::X11Desktop> shared = std::move(watcher);
    // The application in front now is no activation; read before returning, so an activation
    // right after the call is one.
    std::optional<std::int64_t> initialPid;
    if (const auto front = X11Workspace(shared).frontmostApplication()) {
        initialPid = front->pid;
    }
    auto thread =
        std::make_shared<std::jthread>([watcher = shared, wake, lastPid = initialPid,
                                        changed = std::move(changed)](std::stop_token stop) mutable {
            X11Workspace workspace(watcher);
            while (!stop.stop_requested()) {
                pollfd fds[2] = {{watcher->fileDescriptor(), POLLIN, 0}, {wake, POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                    return;
                }
                if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) {
                    return; // the display went away
                }
                if (stop.stop_requested() || !watcher->activeWindowChanged()) {
                    continue;
                }
                const auto front = workspace.frontmostApplication();
                if (!front) {
                    if (watcher->activeWindow()) {
                        changed(std::nullopt); // an active window that names no process
                    }
                    continue;
                }
                if (front->pid != lastPid) {
                    lastPid = front->pid;
                    changed(front);
                }
            }
        });
    return platform::ObserverToken([thread, wake] {
        thread->request_stop();
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake, &one, sizeof one);
        thread->join();
        ::close(wake);
    });
}

} // namespace velnote
