#pragma once

#include "platform/image/RgbImage.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velnote::platform {

// No X display, or a request the X server refused; what() says which.
class DisplayError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One monitor of the X screen: a rectangle of the root window, in pixels with y downwards.
struct DisplayMonitor {
    // Stable while the monitor stays connected: the RandR monitor's name atom, or kWholeScreenID
    // when the server has no RandR monitors and the whole root window is the one monitor.
    std::uint32_t id = 0;
    std::string name; // the monitor's RandR name ("HDMI-1"); empty without one
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;

    bool operator==(const DisplayMonitor&) const = default;
};

// The stand-in for the screen list and the display screenshots: an xcb connection to one X
// display. Thread-safe (calls are serialised); a call may block for a round trip to the server.
class X11Screen {
  public:
    static constexpr std::uint32_t kWholeScreenID = 1;

    // Connects to `displayName`, or to $DISPLAY without one. Throws DisplayError when the display
    // cannot be opened.
    explicit X11Screen(const std::optional<std::string>& displayName = std::nullopt);
    ~X11Screen();
    X11Screen(const X11Screen&) = delete;
    X11Screen& operator=(const X11Screen&) = delete;

    // The monitors, the primary one first, the others in the server's order. Without RandR
    // monitors: the whole root window. Throws DisplayError when the connection broke.
    std::vector<DisplayMonitor> monitors();

    // The pixels of the root window inside (x, y, width, height), cut to the root window first.
    // Throws DisplayError when nothing of the rectangle is on screen, the server refuses, or its
    // pixel format is not 24-bit colour in 32-bit pixels.
    RgbImage grab(int x, int y, int width, int height);

  private:
    struct Connection;
    std::mutex mutex_;
    std::unique_ptr<Connection> connection_;
};

} // namespace velnote::platform
