#include "context/activity/window/FrontWindowAccess.h"
#include "context/activity/window/WindowImages.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using platform::DesktopRect;
using platform::DesktopWindow;

DesktopWindow window(std::uint32_t id, std::optional<std::int32_t> pid, DesktopRect frame, bool onScreen) {
    return {.id = id, .pid = pid, .frame = frame, .onScreen = onScreen};
}

TEST(BestShareableWindow, PrefersTheFrontMostOnScreenWindowThenOverlapThenSize) {
    const auto none = [] { return std::optional<DesktopRect>(); };
    const std::vector<DesktopWindow> windows{
        window(1, 5, {0, 0, 10, 10}, true), window(2, 7, {0, 0, 100, 100}, false),
        window(3, 7, {0, 0, 50, 50}, true), window(4, 7, {0, 0, 400, 400}, true),
        window(5, 7, {0, 0, 0, 300}, true), window(6, std::nullopt, {0, 0, 900, 900}, true)};
    EXPECT_EQ(bestShareableWindow(7, windows, none)->id, 3u) << "front-most, even though another is larger";

    const std::vector<DesktopWindow> offScreen{window(2, 7, {0, 0, 100, 100}, false),
                                               window(3, 7, {200, 0, 50, 50}, false)};
    EXPECT_EQ(bestShareableWindow(7, offScreen,
                                  [] {
                                      return std::optional<DesktopRect>({210, 10, 5, 5});
                                  })
                  ->id,
              3u);
    EXPECT_EQ(bestShareableWindow(7, offScreen,
                                  [] {
                                      return std::optional<DesktopRect>({900, 900, 5, 5});
                                  })
                  ->id,
              2u)
        << "no overlap: the largest";
    EXPECT_EQ(bestShareableWindow(7, offScreen, none)->id, 2u);
    EXPECT_FALSE(bestShareableWindow(9, windows, none).has_value());
}

TEST(BestScreen, TakesTheLargestOverlapTheFirstOnATieElseTheMainScreen) {
    const std::vector<DesktopScreen> screens{{.frame = {0, 0, 100, 100}}, {.frame = {100, 0, 100, 100}}};
    EXPECT_EQ(bestScreen({90, 0, 40, 10}, screens), 1u) << "more of it on the second";
    EXPECT_EQ(bestScreen({90, 0, 20, 10}, screens), 0u) << "equal overlap: the first";
    EXPECT_EQ(bestScreen({500, 500, 10, 10}, screens), 0u) << "off every screen: the main one";
    EXPECT_FALSE(bestScreen({0, 0, 1, 1}, {}).has_value());
}

TEST(DisplaySourceRect, MapsTheFrameOntoTheDisplayAndClipsIt) {
    const DesktopScreen screen{.frame = {100, 50, 200, 100}, .scale = 2, .displayNumber = 1};
    const CaptureDisplay display{.displayID = 1, .width = 400, .height = 200};
    EXPECT_EQ(displaySourceRect({110, 60, 20, 10}, screen, display), (DesktopRect{20, 20, 40, 20}));
    EXPECT_EQ(displaySourceRect({250, 120, 100, 100}, screen, display), (DesktopRect{300, 140, 100, 60}));
    EXPECT_FALSE(displaySourceRect({900, 900, 10, 10}, screen, display).has_value());
}

platform::RgbImage filled(int width, int height, std::uint8_t value) {
    return {.width = width,
            .height = height,
            .pixels = std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 3), value)};
}

TEST(BlankScore, CountsNearWhiteSamplesOfA48By48Rendering) {
    EXPECT_EQ(blankScore(filled(96, 96, 255)), 1.0);
    EXPECT_EQ(blankScore(filled(96, 96, 249)), 0.0);
    EXPECT_EQ(blankScore(platform::RgbImage{}), 0.0);
    // 11 dark samples of 2304 stay blank, 12 do not.
    for (const int dark : {11, 12}) {
        auto image = filled(48, 48, 255);
        for (int i = 0; i < dark; ++i) {
            std::fill_n(image.pixel(i, 0), 3, 0);
        }
        EXPECT_EQ(blankScore(image) >= kBlankCaptureScore, dark == 11) << dark;
    }
}

TEST(ResizedThumbnail, StretchesToExactlyTheTargetSize) {
    const auto thumb = resizedThumbnail(filled(1024, 512, 40), 512, 512);
    ASSERT_TRUE(thumb.has_value());
    EXPECT_EQ(thumb->width, 512);
    EXPECT_EQ(thumb->height, 512);
    EXPECT_EQ(thumb->pixel(300, 300)[0], 40);
    EXPECT_FALSE(resizedThumbnail(platform::RgbImage{}, 512, 512).has_value());
}

} // namespace
} // namespace velnote
