#include "ui/picker/RegionPickerGeometry.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using G = RegionPickerGeometry;

ScreenRect rect(double x, double y, double w, double h) {
    return ScreenRect{.x = x, .y = y, .width = w, .height = h};
}

TEST(RegionPickerGeometryTest, EitherDragDirectionGivesTheSameSelection) {
    EXPECT_EQ(G::selection({300, 400}, {100, 150}), rect(100, 150, 200, 250));
    EXPECT_EQ(G::selection({100, 150}, {300, 400}), rect(100, 150, 200, 250));
    EXPECT_EQ(G::selection({100, 400}, {300, 150}), rect(100, 150, 200, 250));
}

TEST(RegionPickerGeometryTest, WhatIsDrawnAndWhatIsDelivered) {
    struct Case {
        ScreenRect selection;
        bool drawn;
        bool delivered;
    };
    const Case cases[] = {
        {rect(0, 0, 2, 50), false, false},  {rect(0, 0, 3, 3), true, false},
        {rect(0, 0, 11, 11), true, true},   {rect(0, 0, 10, 200), true, false},
        {rect(0, 0, 200, 10), true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(G::isDrawn(c.selection), c.drawn) << c.selection.width << "x" << c.selection.height;
        EXPECT_EQ(G::isDeliverable(c.selection), c.delivered)
            << c.selection.width << "x" << c.selection.height;
    }
}

TEST(RegionPickerGeometryTest, SizeLabel) {
    EXPECT_EQ(G::sizeLabelText(rect(0, 0, 640, 480)), "640 × 480");
    EXPECT_EQ(G::sizeLabelText(rect(0, 0, 99.5, 49.4)), "100 × 49");

    const ScreenRect bounds = rect(0, 0, 1280, 800);
    // Above the selection, centred.
    auto at = G::sizeLabelOrigin(rect(500, 300, 200, 100), 60, 14, bounds);
    EXPECT_DOUBLE_EQ(at.x, 570);
    EXPECT_DOUBLE_EQ(at.y, 300 - 4 - 14);
    // Touching the top of the screen: below it.
    at = G::sizeLabelOrigin(rect(500, 0, 200, 100), 60, 14, bounds);
    EXPECT_DOUBLE_EQ(at.y, 104);
    // At the right edge: 4 pixels inside; at the left edge: at least 4 from it.
    EXPECT_DOUBLE_EQ(G::sizeLabelOrigin(rect(1250, 300, 30, 100), 60, 14, bounds).x, 1280 - 60 - 4);
    EXPECT_DOUBLE_EQ(G::sizeLabelOrigin(rect(0, 300, 20, 100), 60, 14, bounds).x, 4);
}

TEST(RegionPickerGeometryTest, SelectionOnASecondaryScreenIsDeliveredInDesktopCoordinates) {
    EXPECT_EQ(G::toDesktop(rect(100, 50, 300, 200), rect(1440, 0, 1920, 1080)), rect(1540, 50, 300, 200));
}

} // namespace
} // namespace velnote
