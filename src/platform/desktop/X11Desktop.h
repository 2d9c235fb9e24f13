#pragma once

#include "platform/image/RgbImage.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace velnote::platform {

// A rectangle of the desktop in pixels, origin top-left of the root window.
struct DesktopRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const DesktopRect&) const = default;
};

// One top-level window the window manager lists.
struct DesktopWindow {
    std::uint32_t id = 0;
    std::optional<std::int32_t> pid; // _NET_WM_PID; none when the client does not say
    DesktopRect frame;               // the client area in root coordinates
    bool onScreen = false;           // mapped and viewable

    bool operator==(const DesktopWindow&) const = default;
};

// The X11 desktop through EWMH: the active window, the windows of the window manager in stacking
// order, their titles, owners and frames, and screenshots of a window or the root. One connection
// of its own; xcb is thread-safe, so any thread may call. Nothing here needs a permission: every
// X client may read these properties.
class X11Desktop {
  public:
    // A connection to $DISPLAY (or `display`); nullptr when there is no display to connect to.
    static std::unique_ptr<X11Desktop> connect(const char* display = nullptr);
    ~X11Desktop();
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    // _NET_ACTIVE_WINDOW; none when unset or 0.
    std::optional<std::uint32_t> activeWindow();
    std::optional<std::int32_t> windowPid(std::uint32_t window);
    // _NET_WM_NAME (UTF-8), else WM_NAME; none when neither is set.
    std::optional<std::string> windowTitle(std::uint32_t window);
    // The class part of WM_CLASS ("Firefox", "XTerm"); none when unset.
    std::optional<std::string> windowClass(std::uint32_t window);
    std::optional<DesktopRect> windowFrame(std::uint32_t window);
    // The managed windows, front first (_NET_CLIENT_LIST_STACKING reversed); empty without a
    // window manager.
    std::vector<DesktopWindow> windowsFrontToBack();
    // The root window's size: the one screen of this display.
    DesktopRect rootFrame();
    std::uint32_t rootWindow() const { return root_; }

    // The pixels of `drawable` (a window or the root) in the given rectangle of its own
    // coordinates; none when the server refuses (an unmapped window, a rectangle outside) or the
    // pixel format is not 24-bit true colour.
    std::optional<RgbImage> capture(std::uint32_t drawable, int x, int y, int width, int height);

    // Activation watching: after watchActiveWindow(), fileDescriptor() becomes readable when
    // events arrive, and activeWindowChanged() drains them, true when _NET_ACTIVE_WINDOW changed.
    void watchActiveWindow();
    int fileDescriptor() const;
    bool activeWindowChanged();

  private:
    struct Ewmh;
    X11Desktop(xcb_connection_t* connection, std::unique_ptr<Ewmh> ewmh, std::uint32_t root);

    xcb_connection_t* connection_;
    std::unique_ptr<Ewmh> ewmh_;
    std::uint32_t root_;
};

// What /proc tells of a process: the executable's path and its short name ("comm").
std::optional<std::string> processExecutable(std::int64_t pid);
std::optional<std::string> processName(std::int64_t pid);

} // namespace velnote::platform
