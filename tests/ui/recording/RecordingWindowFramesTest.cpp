#include "ui/recording/RecordingWindowFrames.h"

#include "support/TempDir.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velnote {
namespace {

class RecordingWindowFramesTest : public ::testing::Test {
  protected:
    void setCompact(bool on) { settings_.set("recordingFloatingCompactModeEnabled", on); }
    void store(const char* prefix, PanelRect frame) {
        settings_.set(std::string(prefix) + "OriginX", frame.x);
        settings_.set(std::string(prefix) + "OriginY", frame.y);
        settings_.set(std::string(prefix) + "Width", frame.width);
        settings_.set(std::string(prefix) + "Height", frame.height);
    }

    testing::TempDir dir_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
};

TEST_F(RecordingWindowFramesTest, FirstLaunchUsesTheFallbackOfTheCurrentLayoutAndCachesIt) {
    RecordingWindowFrames regular(settings_);
    EXPECT_EQ(regular.startFrame(), (PanelRect{0, 0, 360, 460}));
    EXPECT_EQ(regular.cache(PanelLayout::regular), (PanelRect{0, 0, 360, 460}));
    EXPECT_FALSE(regular.loadSavedWindowFrame(PanelLayout::regular)); // nothing written yet

    setCompact(true);
    RecordingWindowFrames compact(settings_);
    EXPECT_EQ(compact.startFrame(), (PanelRect{0, 0, 360, 140}));
    EXPECT_FALSE(compact.cache(PanelLayout::regular));
}

TEST_F(RecordingWindowFramesTest, SavedFramesRoundTripUnderTheirOwnKeys) {
    RecordingWindowFrames frames(settings_);
    frames.saveWindowFrame({10, 20, 400, 500}, PanelLayout::regular);
    frames.saveWindowFrame({30, 40, 280, 150}, PanelLayout::compact);
    EXPECT_EQ(settings_.doubleValue("recordingWindowWidth"), 400);
    EXPECT_EQ(settings_.doubleValue("recordingWindowCompactOriginY"), 40);
    EXPECT_EQ(frames.loadSavedWindowFrame(PanelLayout::regular), (PanelRect{10, 20, 400, 500}));
    EXPECT_EQ(frames.loadSavedWindowFrame(PanelLayout::compact), (PanelRect{30, 40, 280, 150}));
}

TEST_F(RecordingWindowFramesTest, UnusableStoredFramesReadAsNone) {
    const double inf = std::numeric_limits<double>::infinity();
    for (PanelRect bad : {PanelRect{0, 0, 0, 300}, PanelRect{0, 0, 300, -1}, PanelRect{inf, 0, 300, 300},
                          PanelRect{0, 0, inf, 300}, PanelRect{0, std::nan(""), 300, 300}}) {
        store("recordingWindow", bad);
        EXPECT_FALSE(RecordingWindowFrames(settings_).loadSavedWindowFrame(PanelLayout::regular))
            << bad.x << " " << bad.y << " " << bad.width << " " << bad.height;
    }
}

TEST_F(RecordingWindowFramesTest, AFrameOffEveryScreenMovesOntoTheFirstVisibleArea) {
    const PanelScreen screen{.frame = {0, 0, 1920, 1080}, .visibleFrame = {0, 30, 1920, 1050}};
    RecordingWindowFrames frames(settings_, {screen});
    EXPECT_EQ(frames.sanitizedFrame({100, 100, 360, 460}), (PanelRect{100, 100, 360, 460}));
    EXPECT_EQ(frames.sanitizedFrame({3000, -900, 360, 460}), (PanelRect{1560, 30, 360, 460}));
    // Wider than the visible area: it ends flush with the right edge.
    EXPECT_EQ(frames.sanitizedFrame({-5000, 2000, 2500, 460}), (PanelRect{-580, 620, 2500, 460}));
    // Taller than the visible area: its top edge, with the title bar, stays reachable.
    EXPECT_EQ(frames.sanitizedFrame({3000, 3000, 360, 1500}), (PanelRect{1560, 30, 360, 1500}));
    RecordingWindowFrames noScreens(settings_);
    EXPECT_EQ(noScreens.sanitizedFrame({3000, 3000, 10, 10}), (PanelRect{3000, 3000, 10, 10}));
}

TEST_F(RecordingWindowFramesTest, CompactTargetSize) {
    RecordingWindowFrames frames(settings_);
    struct Case {
        double width;
        std::optional<PanelSize> measured;
        PanelSize expected;
    };
    for (const Case& c :
         {Case{400, PanelSize{260, 120}, {280, 136}}, Case{400, PanelSize{260, 100}, {280, 130}},
          Case{250, PanelSize{260, 120}, {260, 136}}, Case{400, PanelSize{0, 10}, {260, 130}},
          Case{400, PanelSize{0, 0}, {320, 140}}, Case{200, std::nullopt, {260, 140}}}) {
        EXPECT_EQ(frames.calculateCompactTargetSize(c.width, c.measured), c.expected) << c.width;
    }
    frames.cache(PanelLayout::compact) = PanelRect{0, 0, 300, 300}; // too tall to be reused
    EXPECT_EQ(frames.calculateCompactTargetSize(290, std::nullopt), (PanelSize{290, 140}));
    store("recordingWindowCompact", {5, 5, 300, 110});
    EXPECT_EQ(frames.calculateCompactTargetSize(290, std::nullopt), (PanelSize{300, 130}));
}

TEST_F(RecordingWindowFramesTest, RegularTargetSizeKeepsTheUsersLastRegularFrame) {
    RecordingWindowFrames frames(settings_);
    frames.cache(PanelLayout::regular) = PanelRect{0, 0, 500, 420};
    EXPECT_EQ(frames.calculateRegularTargetSize(300, PanelSize{900, 900}), (PanelSize{500, 420}));
    frames.cache(PanelLayout::regular) = PanelRect{0, 0, 320, 420};
    EXPECT_EQ(frames.calculateRegularTargetSize(300, std::nullopt), (PanelSize{360, 420}));
    frames.cache(PanelLayout::regular) = PanelRect{0, 0, 500, 250};
    EXPECT_EQ(frames.calculateRegularTargetSize(300, PanelSize{300, 200}), (PanelSize{360, 380}));
    EXPECT_EQ(frames.calculateRegularTargetSize(400, std::nullopt), (PanelSize{400, 460}));
    store("recordingWindow", {0, 0, 380, 350});
    EXPECT_EQ(frames.calculateRegularTargetSize(400, std::nullopt), (PanelSize{380, 350}));
}

TEST_F(RecordingWindowFramesTest, FittingKeepsTheTopLeftCornerAndRemembersTheFrame) {
    RecordingWindowFrames frames(settings_);
    const PanelRect fitted =
        frames.fittedFrame({50, 70, 400, 460}, PanelLayout::compact, PanelSize{260, 120});
    EXPECT_EQ(fitted, (PanelRect{50, 70, 280, 136}));
    EXPECT_EQ(frames.cache(PanelLayout::compact), fitted);
    EXPECT_EQ(frames.loadSavedWindowFrame(PanelLayout::compact), fitted);
}

} // namespace
} // namespace velnote
