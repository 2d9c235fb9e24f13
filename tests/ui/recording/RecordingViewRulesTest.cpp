#include "ui/recording/RecordingViewRules.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velnote::recording_view {
namespace {

TEST(RecordingViewRulesTest, OpenSectionsParseAndJoin) {
    struct Case {
        const char* raw;
        std::set<std::string> ids;
    };
    for (const Case& c : {Case{"volume", {"volume"}}, Case{"", {}}, Case{",summary,,", {"summary"}},
                          Case{"Summary", {"Summary"}}, Case{" volume", {" volume"}},
                          Case{"summary,volume", {"summary", "volume"}}}) {
        EXPECT_EQ(parseOpenSections(c.raw), c.ids) << c.raw;
    }
    EXPECT_EQ(joinOpenSections({"volume", "summary"}), "summary,volume");
    EXPECT_EQ(joinOpenSections({}), "");
    EXPECT_EQ(joinOpenSections({"volume", "Summary"}), "Summary,volume"); // code point order
}

TEST(RecordingViewRulesTest, SectionActivityFollowsStateLayoutAndOpenSections) {
    const std::set<std::string> open{"transcription", "volume"};
    EXPECT_EQ(sectionActivity(RecordingState::recording(), PanelLayout::regular, open),
              (SectionActivity{.meter = true, .transcript = true}));
    EXPECT_EQ(sectionActivity(RecordingState::recording(), PanelLayout::compact, {}),
              (SectionActivity{.meter = true, .transcript = true}));
    EXPECT_EQ(
        sectionActivity(RecordingState::recording(), PanelLayout::regular, {"activity", "summary", "x"}),
        (SectionActivity{.activity = true, .summary = true}));
    for (const RecordingState& state : {RecordingState::idle(), RecordingState::starting(),
                                        RecordingState::stopping(), RecordingState::error("e")}) {
        EXPECT_EQ(
            sectionActivity(state, PanelLayout::regular, {"activity", "summary", "transcription", "volume"}),
            SectionActivity{});
    }
}

TEST(RecordingViewRulesTest, CompactMeasuredContentSize) {
    using L = PanelLayout;
    EXPECT_FALSE(compactMeasuredContentSize(0, 58, L::compact, true, "x"));
    EXPECT_FALSE(compactMeasuredContentSize(40, 0, L::compact, true, "x"));
    EXPECT_EQ(compactMeasuredContentSize(40, 58, L::compact, false, "line"), (PanelSize{260, 120}));
    EXPECT_EQ(compactMeasuredContentSize(40, 58, L::compact, true, ""), (PanelSize{260, 170}));
    EXPECT_EQ(compactMeasuredContentSize(40, 58, L::compact, true, "a\n   \n"), (PanelSize{260, 200}));
    EXPECT_EQ(compactMeasuredContentSize(40, 58, L::regular, true, "a"), (PanelSize{260, 120}));
}

TEST(RecordingViewRulesTest, LatestLineIsTheLastNonBlankLineUnchanged) {
    struct Case {
        const char* text;
        const char* line;
    };
    for (const Case& c : {Case{"", ""}, Case{"\n \n\t\n", ""}, Case{"one\ntwo", "two"},
                          Case{"  one\n   ", "  one"}, Case{"one\ntwo\n", "two"}, Case{"only", "only"}}) {
        EXPECT_EQ(latestLiveTranscriptLine(c.text), c.line) << c.text;
    }
}

TEST(RecordingViewRulesTest, ElapsedText) {
    using namespace std::chrono;
    const platform::Clock::WallTime now = system_clock::time_point(hours(500000));
    EXPECT_EQ(elapsedText(std::nullopt, now), "00:00:00");
    EXPECT_EQ(elapsedText(now + seconds(5), now), "00:00:00");
    EXPECT_EQ(elapsedText(now - hours(3) - minutes(25) - seconds(9) - milliseconds(900), now), "03:25:09");
    EXPECT_EQ(elapsedText(now - hours(100), now), "100:00:00");
}

TEST(RecordingViewRulesTest, LevelAndGainTexts) {
    struct Case {
        double level;
        const char* text;
        LevelTone tone;
    };
    for (const Case& c : {Case{0.59, " 59%", LevelTone::green}, Case{0.6, " 60%", LevelTone::orange},
                          Case{0.82, " 82%", LevelTone::red}, Case{0.005, "  1%", LevelTone::green},
                          Case{0.07, "  7%", LevelTone::green}, Case{1.0, "100%", LevelTone::red},
                          Case{7.0, "100%", LevelTone::red}, Case{-0.5, "  0%", LevelTone::green},
                          Case{std::nan(""), "  0%", LevelTone::green}}) {
        EXPECT_EQ(levelPercent(c.level), c.text) << c.level;
        EXPECT_EQ(levelTone(c.level, false), c.tone) << c.level;
    }
    EXPECT_EQ(levelTone(0.9, true), LevelTone::muted);
    EXPECT_EQ(gainText(20), "20.00x");
    EXPECT_EQ(gainText(0.5), "0.50x");
}

TEST(RecordingViewRulesTest, WaveformIsFlatWhenQuietAndShapedWhenLoud) {
    for (double height : waveformBarHeights(0.01, 0.0, 1.0)) {
        EXPECT_EQ(height, 4);
    }
    const auto loud = waveformBarHeights(0.2, 1.0, 0.0);
    for (std::size_t i = 0; i < loud.size(); ++i) {
        const double expected =
            std::max(std::max(1 - std::abs(8.5 - i) / 9.0, 0.15) * (std::sin(0.4 * i) * 0.6 + 0.4) * 36, 4.0);
        EXPECT_DOUBLE_EQ(loud[i], expected) << i;
    }
}

TEST(RecordingViewRulesTest, TranscriptTitleAccessory) {
    using A = TranscriptTitleAccessory;
    struct Case {
        TranscriptPaneInputs in;
        A expected;
    };
    for (const Case& c : {
             Case{{.hasTranscriptionError = true, .sourceTextEmpty = false}, A::nothing},
             Case{{.sourceTextEmpty = false}, A::copyButton},
             Case{{}, A::waiting},
             Case{{.transcriptionPending = true}, A::preparing},
             Case{{.displayTranslation = true, .translationPending = true, .transcriptionPending = true},
                  A::translating},
             Case{{.displayTranslation = false, .translationPending = true}, A::waiting},
             Case{{.displayTranslation = true, .transcriptionPending = true}, A::preparing},
         }) {
        EXPECT_EQ(transcriptTitleAccessory(c.in), c.expected);
    }
}

TEST(RecordingViewRulesTest, IntervalSliderRoundsHalfAwayFromZero) {
    EXPECT_EQ(intervalMinutesFromSlider(4.5), 5);
    EXPECT_EQ(intervalMinutesFromSlider(4.49), 4);
    EXPECT_EQ(intervalMinutesFromSlider(30), 30);
    EXPECT_EQ(intervalMinutesFromSlider(std::nan("")), 1);
    EXPECT_EQ(intervalMinutesFromSlider(std::numeric_limits<double>::infinity()), 1000000000);
}

} // namespace
} // namespace velnote::recording_view
