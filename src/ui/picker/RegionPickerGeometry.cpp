#include "ui/picker/RegionPickerGeometry.h"

#include <algorithm>
#include <cmath>

namespace velnote {

ScreenRect RegionPickerGeometry::selection(Point start, Point current) {
    return ScreenRect{.x = std::min(start.x, current.x),
                      .y = std::min(start.y, current.y),
                      .width = std::abs(current.x - start.x),
                      .height = std::abs(current.y - start.y)};
}

bool RegionPickerGeometry::isDrawn(const ScreenRect& s) {
    return s.width > 2 && s.height > 2;
}

bool RegionPickerGeometry::isDeliverable(const ScreenRect& s) {
    return s.width > 10 && s.height > 10;
}

std::string RegionPickerGeometry::sizeLabelText(const ScreenRect& s) {
    return std::to_string(std::lround(s.width)) + " × " + std::to_string(std::lround(s.height));
}

RegionPickerGeometry::Point RegionPickerGeometry::sizeLabelOrigin(const ScreenRect& s, double textWidth,
                                                                  double textHeight,
                                                                  const ScreenRect& bounds) {
    double y = s.y - 4 - textHeight;
    if (y < bounds.y)
        y = s.y + s.height + 4;
    double x = s.x + s.width / 2 - textWidth / 2;
    x = std::max(std::min(x, bounds.x + bounds.width - textWidth - 4), 4.0);
    return Point{x, y};
}

ScreenRect RegionPickerGeometry::toDesktop(const ScreenRect& s, const ScreenRect& screenFrame) {
    return ScreenRect{
        .x = s.x + screenFrame.x, .y = s.y + screenFrame.y, .width = s.width, .height = s.height};
}

} // namespace velnote
