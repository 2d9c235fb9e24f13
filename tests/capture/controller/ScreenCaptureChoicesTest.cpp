#include "capture/controller/ScreenCaptureChoices.h"

#include <gtest/gtest.h>
#include <limits>

namespace velnote {
namespace {

struct TwoDisplays final : DisplayDirectory {
    std::vector<AvailableDisplay> enumerate() override {
        return {{.id = 0, .name = "Built-in", .displayID = 5}, {.id = 1, .name = "Side", .displayID = 9}};
    }
    std::uint32_t mainDisplayID() override { return 5; }
    std::vector<DisplayScreen> screens() override { return {}; }
};

TEST(ScreenCaptureChoicesTest, AnIndexOutsideTheListMeansTheMainDisplay) {
    TwoDisplays displays;
    const std::pair<std::int64_t, std::uint32_t> cases[] = {
        {0, 5}, {1, 9}, {2, 5}, {-1, 5}, {std::numeric_limits<std::int64_t>::min(), 5}};
    for (const auto& [index, expected] : cases) {
        EXPECT_EQ(ScreenCaptureChoices::displayID(displays, index), expected) << index;
    }
}

TEST(ScreenCaptureChoicesTest, TheRegionPickerGoesToTheDisplaysScreenElseTheFirst) {
    const std::vector<DisplayScreen> screens{
        {.displayID = std::nullopt, .frame = {.width = 1440, .height = 900}},
        {.displayID = 9, .frame = {.x = 1440, .y = -200, .width = 1920}}};
    EXPECT_EQ(ScreenCaptureChoices::screenFor(screens, 9), screens[1]);
    EXPECT_EQ(ScreenCaptureChoices::screenFor(screens, 3), screens[0]);
    EXPECT_EQ(ScreenCaptureChoices::screenFor({}, 9), std::nullopt);
    EXPECT_EQ(
        ScreenCaptureChoices::regionOnScreen({.x = 1500, .y = -100, .width = 10, .height = 20}, screens[1]),
        (ScreenRect{.x = 60, .y = 100, .width = 10, .height = 20}));
}

} // namespace
} // namespace velnote
