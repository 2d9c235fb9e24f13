#include "context/screen/ScreenChange.h"

#include <cmath>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using Thumb = std::vector<std::uint8_t>;

Thumb uniform(std::uint8_t value) {
    return Thumb(128 * 72, value);
}

TEST(ScreenChangeTest, ScoreIgnoresTheEdges) {
    EXPECT_DOUBLE_EQ(ScreenChange::diffScore(uniform(100), uniform(120)), 20);
    Thumb edged = uniform(100);
    for (int x = 0; x < 128; ++x) {
        for (int y : {0, 9, 62, 71}) // rows left out at top and bottom
            edged[static_cast<std::size_t>(y * 128 + x)] = 255;
    }
    for (int y = 0; y < 72; ++y) {
        for (int x : {0, 16, 111, 127}) // columns left out at both sides
            edged[static_cast<std::size_t>(y * 128 + x)] = 255;
    }
    EXPECT_DOUBLE_EQ(ScreenChange::diffScore(uniform(100), edged), 0);
    Thumb inner = uniform(100);
    inner[static_cast<std::size_t>(10 * 128 + 17)] = 100 + 70; // one of 4,888 measured pixels
    EXPECT_NEAR(ScreenChange::diffScore(uniform(100), inner), std::sqrt(70.0 * 70 / 4888), 1e-12);
    EXPECT_DOUBLE_EQ(ScreenChange::diffScore({}, uniform(1)), 0);
    EXPECT_DOUBLE_EQ(ScreenChange::diffScore(uniform(1), Thumb(10, 9)), 0);
}

TEST(ScreenChangeTest, ScoreTakesTheThumbnailSizeAndMarginsItIsGiven) {
    // A 10 × 10 thumbnail with margins of 0.2: only the inner 6 × 6 pixels count.
    Thumb previous(100, 0);
    Thumb current(100, 0);
    current[0] = 255;                                   // in the margin
    current[static_cast<std::size_t>(2 * 10 + 2)] = 60; // measured
    EXPECT_DOUBLE_EQ(ScreenChange::diffScore(previous, current, 10, 10, 0.2), 10);
    // Margins that leave nothing, and sizes that do not match the buffers, score 0.
    EXPECT_DOUBLE_EQ(ScreenChange::diffScore(previous, current, 10, 10, 0.5), 0);
    EXPECT_DOUBLE_EQ(ScreenChange::diffScore(previous, current, 20, 5, 0.2), 0);
    EXPECT_EQ(
        ScreenChange::makeThumbnail(platform::RgbImage{8, 8, std::vector<std::uint8_t>(8 * 8 * 3, 9)}, 4, 2)
            .size(),
        8U);
}

TEST(ScreenChangeTest, ThumbnailIsGrey128By72) {
    platform::RgbImage image{640, 360, std::vector<std::uint8_t>(640 * 360 * 3, 0)};
    for (int y = 0; y < 360; ++y)
        for (int x = 320; x < 640; ++x)
            image.pixel(x, y)[0] = image.pixel(x, y)[1] = image.pixel(x, y)[2] = 200;
    const Thumb thumb = ScreenChange::makeThumbnail(image);
    ASSERT_EQ(thumb.size(), 9216U);
    EXPECT_EQ(thumb[0], 0);
    EXPECT_EQ(thumb[127], 200);
    EXPECT_TRUE(ScreenChange::makeThumbnail(platform::RgbImage{}).empty());
}

TEST(ScreenChangeTest, CaptureResolutionFitsFullHdWithoutEnlarging) {
    struct Case {
        double w, h;
        std::pair<int, int> expected;
    };
    for (const Case& c : {Case{3840, 2160, {1920, 1080}}, Case{2560, 1600, {1728, 1080}},
                          Case{1280, 800, {1280, 800}}, Case{5120, 1440, {1920, 540}}}) {
        EXPECT_EQ(ScreenChange::captureResolution(c.w, c.h), c.expected) << c.w << "x" << c.h;
    }
}

TEST(ScreenChangeTest, WaitStretchesOnAStillOrHotMachine) {
    const std::pair<std::int64_t, int> backoff[] = {{0, 1},  {4, 1},  {5, 2},  {14, 2},
                                                    {15, 4}, {29, 4}, {30, 8}, {50, 8}};
    for (const auto& [count, factor] : backoff)
        EXPECT_EQ(ScreenChange::backoffFactor(count), factor) << count;
    EXPECT_DOUBLE_EQ(ScreenChange::thermalFactor(platform::ThermalState::critical), 2);
    EXPECT_DOUBLE_EQ(ScreenChange::thermalFactor(platform::ThermalState::serious), 1.6);
    EXPECT_DOUBLE_EQ(ScreenChange::thermalFactor(platform::ThermalState::fair), 1);
    // Another threshold scales every step: × 2 from 2, × 4 from 6, × 8 from 12.
    const std::pair<std::int64_t, int> tuned[] = {{1, 1}, {2, 2}, {5, 2}, {6, 4}, {11, 4}, {12, 8}};
    for (const auto& [count, factor] : tuned)
        EXPECT_EQ(ScreenChange::backoffFactor(count, 2), factor) << count;
}

TEST(VideoModeDetectorTest, NeedsTwelveScoresNineOfThemMoving) {
    VideoModeDetector detector;
    for (int i = 0; i < 11; ++i)
        EXPECT_FALSE(detector.update(30)) << "decided after " << i + 1;
    const auto on = detector.update(30);
    ASSERT_TRUE(on);
    EXPECT_TRUE(on->first);
    EXPECT_DOUBLE_EQ(on->second, 30);

    VideoModeDetector borderline;
    // 9 of 12 at 9 or more and a mean of exactly 10: video.
    for (double s : {9.0, 9.0, 9.0, 9.0, 9.0, 9.0, 9.0, 9.0, 9.0 + 39, 0.0, 0.0, 0.0})
        borderline.update(s);
    EXPECT_TRUE(borderline.isVideoMode());
    // One more still score pushes a moving one out: 8 of 12 moving.
    const auto off = borderline.update(0);
    ASSERT_TRUE(off);
    EXPECT_FALSE(off->first);

    VideoModeDetector slow;
    for (int i = 0; i < 12; ++i)
        slow.update(9.5); // all moving, but a mean below 10
    EXPECT_FALSE(slow.isVideoMode());

    // A window of 4 that wants half of it moving and a mean of 20.
    VideoModeDetector tuned(4, 0.5, 20);
    for (double s : {0.0, 0.0, 40.0})
        EXPECT_FALSE(tuned.update(s));
    const auto tunedOn = tuned.update(40);
    ASSERT_TRUE(tunedOn);
    EXPECT_DOUBLE_EQ(tunedOn->second, 20);
}

} // namespace
} // namespace velnote
