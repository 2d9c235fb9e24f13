#pragma once

#include <QColor>
#include <QPalette>

namespace velnote {

// The shared colours of the application's windows (backgrounds, cards, borders, separators). Each
// has a light and a dark value; the palette the widget draws with decides which applies.
struct AdaptiveColor {
    QColor light;
    QColor dark;

    // Light when the palette's window colour is light, dark otherwise (also for a palette that
    // tells neither, such as a fully transparent window colour).
    QColor resolve(const QPalette& palette) const;
};

// Ten static colours; each call builds the value anew, nothing is cached. Main thread, like the
// widgets that draw with them.
struct AppTheme {
    static AdaptiveColor solidContentBackground();
    static AdaptiveColor solidControlBackground();
    static AdaptiveColor hudCardBackground();
    static AdaptiveColor hudCardBorder();
    static AdaptiveColor cardBackground();
    static AdaptiveColor sectionHeaderBackground();
    static AdaptiveColor controlBackground();
    static AdaptiveColor cardBorder();
    static AdaptiveColor controlBorder();
    static AdaptiveColor separator();

    // Whether `palette` is a light appearance: its window colour is opaque and lighter than mid-grey.
    static bool isLight(const QPalette& palette);
};

} // namespace velnote
