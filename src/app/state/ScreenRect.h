#pragma once

namespace velnote {

// A rectangle on the screen in pixels: origin (x, y) and size.
struct ScreenRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const ScreenRect&) const = default;
};

} // namespace velnote
