#pragma once

#include "app/state/ScreenRect.h"

#include <string>

namespace velnote {

// The arithmetic of the region overlay, apart from the window: the selection a drag makes, when it
// is drawn and when it counts, the size label's text and place. Coordinates are the overlay's own
// pixels, origin top-left, y downwards. Stateless.
struct RegionPickerGeometry {
    struct Point {
        double x = 0;
        double y = 0;
    };

    // The rectangle spanned by the press point and the pointer, whichever way the drag went.
    static ScreenRect selection(Point start, Point current);
    // Outline, handles and label are drawn only for a selection wider and taller than 2.
    static bool isDrawn(const ScreenRect& selection);
    // Only a selection wider and taller than 10 is delivered; smaller ones cancel.
    static bool isDeliverable(const ScreenRect& selection);
    // "640 × 480": width and height rounded to whole pixels, halves away from zero.
    static std::string sizeLabelText(const ScreenRect& selection);
    // Where the label of `textWidth` × `textHeight` goes: centred above the selection, 4 pixels
    // off it, below it instead when it would leave the top; kept 4 pixels inside the sides.
    static Point sizeLabelOrigin(const ScreenRect& selection, double textWidth, double textHeight,
                                 const ScreenRect& bounds);
    // The selection moved from the overlay's pixels into desktop coordinates (the overlay covers
    // `screenFrame`).
    static ScreenRect toDesktop(const ScreenRect& selection, const ScreenRect& screenFrame);
};

} // namespace velnote
