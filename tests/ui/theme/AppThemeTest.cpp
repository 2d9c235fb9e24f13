#include "ui/theme/AppTheme.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

struct Named {
    const char* name;
    AdaptiveColor (*color)();
    bool opaque;
};

const Named kColors[] = {
    {"solidContentBackground", AppTheme::solidContentBackground, true},
    {"solidControlBackground", AppTheme::solidControlBackground, true},
    {"hudCardBackground", AppTheme::hudCardBackground, false},
    {"hudCardBorder", AppTheme::hudCardBorder, false},
    {"cardBackground", AppTheme::cardBackground, false},
    {"sectionHeaderBackground", AppTheme::sectionHeaderBackground, false},
    {"controlBackground", AppTheme::controlBackground, false},
    {"cardBorder", AppTheme::cardBorder, false},
    {"controlBorder", AppTheme::controlBorder, false},
    {"separator", AppTheme::separator, false},
};

QPalette paletteWithWindow(const QColor& window) {
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    return palette;
}

TEST(AppThemeTest, EachColourFollowsTheLightnessOfThePalette) {
    const QPalette light = paletteWithWindow(QColor(236, 236, 236));
    const QPalette highContrastLight = paletteWithWindow(Qt::white);
    const QPalette dark = paletteWithWindow(QColor(40, 40, 40));
    const QPalette highContrastDark = paletteWithWindow(Qt::black);
    const QPalette neither = paletteWithWindow(Qt::transparent);
    for (const Named& n : kColors) {
        const AdaptiveColor c = n.color();
        EXPECT_EQ(c.resolve(light), c.light) << n.name;
        EXPECT_EQ(c.resolve(highContrastLight), c.light) << n.name;
        EXPECT_EQ(c.resolve(dark), c.dark) << n.name;
        EXPECT_EQ(c.resolve(highContrastDark), c.dark) << n.name;
        EXPECT_EQ(c.resolve(neither), c.dark) << n.name;
        // Only the two solid backgrounds are opaque, in both appearances.
        EXPECT_EQ(c.light.alpha() == 255, n.opaque) << n.name;
        EXPECT_EQ(c.dark.alpha() == 255, n.opaque) << n.name;
    }
}

TEST(AppThemeTest, TheValuesAreTheDesignedGreysAndAlphas) {
    EXPECT_NEAR(AppTheme::solidContentBackground().dark.redF(), 0.14, 0.003);
    EXPECT_NEAR(AppTheme::solidControlBackground().dark.greenF(), 0.10, 0.003);
    EXPECT_EQ(AppTheme::hudCardBackground().light.rgb(), QColor(Qt::white).rgb());
    EXPECT_NEAR(AppTheme::hudCardBackground().light.alphaF(), 0.78, 0.003);
    EXPECT_EQ(AppTheme::hudCardBackground().dark.rgb(), QColor(Qt::black).rgb());
    EXPECT_NEAR(AppTheme::hudCardBackground().dark.alphaF(), 0.42, 0.003);
    EXPECT_NEAR(AppTheme::controlBorder().light.alphaF(), 0.24, 0.003);
    EXPECT_NEAR(AppTheme::separator().dark.alphaF(), 0.14, 0.003);
}

} // namespace
} // namespace velnote
