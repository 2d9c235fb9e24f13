#include "app/state/AppState.h"
#include "support/AppStateFixture.h"

#include <gtest/gtest.h>
#include <limits>

namespace velnote {
namespace {
using Field = AppStateField;
using namespace std::chrono_literals;

class AppStateLiveTest : public testing::AppStateFixture {
  protected:
    void meterOn() { state().setAudioMeterEnabled(true); }
};

TEST_F(AppStateLiveTest, MeterOffIgnoresLevels) {
    watch({Field::micInputLevel, Field::sysInputLevel, Field::lastMicLevelPublishedAt,
           Field::lastSysLevelPublishedAt});
    state().updateInputLevels(1.0, 1.0);
    EXPECT_EQ(state().micInputLevel(), 0.0);
    EXPECT_EQ(state().sysInputLevel(), 0.0);
    EXPECT_TRUE(notified_.empty());
}

TEST_F(AppStateLiveTest, LevelsRiseFastAndFallSlowly) {
    meterOn();
    state().updateInputLevels(1.0, std::nullopt);
    EXPECT_DOUBLE_EQ(state().micInputLevel(), 0.45);
    state().updateInputLevels(1.0, std::nullopt);
    const double risen = 0.45 + 0.45 * 0.55;
    EXPECT_DOUBLE_EQ(state().micInputLevel(), risen);
    state().updateInputLevels(0.0, std::nullopt);
    EXPECT_DOUBLE_EQ(state().micInputLevel(), risen * 0.82);
    EXPECT_EQ(state().sysInputLevel(), 0.0);
}

TEST_F(AppStateLiveTest, ValuesOutsideTheRangeAreClamped) {
    struct Case {
        double value;
        double published; // from level 0, first publication
    };
    const Case cases[] = {{1.7, 0.45}, {-0.3, 0.0}, {std::numeric_limits<double>::quiet_NaN(), 0.0}};
    for (const Case& c : cases) {
        state().setAudioMeterEnabled(false); // back to 0, next value published at once
        meterOn();
        state().updateInputLevels(std::nullopt, c.value);
        EXPECT_DOUBLE_EQ(state().sysInputLevel(), c.published) << c.value;
    }
}

TEST_F(AppStateLiveTest, SmallStepsWaitForTheInterval) {
    meterOn();
    // Settle the level at 0.5; each step is published through the interval rule.
    for (int i = 0; i < 200 && std::abs(state().micInputLevel() - 0.5) > 1e-12; ++i) {
        clock_.advance(1s);
        state().updateInputLevels(0.5, std::nullopt);
    }
    ASSERT_NEAR(state().micInputLevel(), 0.5, 1e-9);
    const double level = state().micInputLevel();
    watch({Field::micInputLevel, Field::lastMicLevelPublishedAt, Field::sysInputLevel});

    clock_.advance(20ms);
    state().updateInputLevels(level + 0.01, std::nullopt);
    EXPECT_EQ(state().micInputLevel(), level);
    EXPECT_EQ(notified(Field::lastMicLevelPublishedAt), 0);

    clock_.advance(80ms); // 0.1 s after the last publication
    state().updateInputLevels(level + 0.01, std::nullopt);
    EXPECT_DOUBLE_EQ(state().micInputLevel(), level + 0.45 * 0.01);
    EXPECT_EQ(notified(Field::micInputLevel), 1);
    EXPECT_EQ(notified(Field::lastMicLevelPublishedAt), 1);
    EXPECT_EQ(notified(Field::sysInputLevel), 0);
}

TEST_F(AppStateLiveTest, SwitchingTheMeterOffZeroesAndRearmsIt) {
    meterOn();
    state().updateInputLevels(0.3 / 0.45, 0.2 / 0.45);
    ASSERT_DOUBLE_EQ(state().micInputLevel(), 0.3);
    state().setAudioMeterEnabled(false);
    EXPECT_EQ(state().micInputLevel(), 0.0);
    EXPECT_EQ(state().sysInputLevel(), 0.0);
    meterOn();
    state().updateInputLevels(0.01, std::nullopt); // a tiny step, yet published at once
    EXPECT_DOUBLE_EQ(state().micInputLevel(), 0.45 * 0.01);
}

TEST_F(AppStateLiveTest, ResetClearsLevelsAndMuteFlagsEverywhere) {
    struct FakeMuteFlags : SharedMuteFlags {
        bool mic = true, sys = true;
        void setMicMuted(bool muted) override { mic = muted; }
        void setSysMuted(bool muted) override { sys = muted; }
    };
    auto flags = std::make_shared<FakeMuteFlags>();
    state().setSharedMuteFlags(flags);
    meterOn();
    state().updateInputLevels(1.0, 1.0);
    state().resetInputLevels();
    EXPECT_EQ(state().micInputLevel(), 0.0);
    EXPECT_EQ(state().sysInputLevel(), 0.0);
    EXPECT_FALSE(state().micMuted());
    EXPECT_FALSE(flags->mic);
    EXPECT_FALSE(flags->sys);
    state().updateInputLevels(0.01, std::nullopt); // publication time is back in the distant past
    EXPECT_GT(state().micInputLevel(), 0.0);
}

TEST_F(AppStateLiveTest, HiddenTranscriptIsBufferedAndPublishedWhenShown) {
    state().updateLiveTranscriptLines({"old"});
    state().setTranscriptSectionVisible(false);
    watch({Field::liveTranscriptLines, Field::transcriptLinesBuffer});
    for (const char* line : {"a", "b", "c"}) {
        state().updateLiveTranscriptLines({line});
    }
    state().updateLiveTranscriptPendingText("typing");
    state().updateLiveTranscriptPending(true);
    state().updateLiveTranscriptError("mic lost");

    EXPECT_EQ(state().liveTranscriptLines(), std::vector<std::string>{"old"});
    EXPECT_EQ(state().fullLiveTranscript(), "old");
    EXPECT_EQ(state().transcriptLinesBuffer().latest, std::vector<std::string>{"c"});
    EXPECT_EQ(notified(Field::transcriptLinesBuffer), 3);
    EXPECT_EQ(notified(Field::liveTranscriptLines), 0);

    state().setTranscriptSectionVisible(true);
    EXPECT_EQ(state().liveTranscriptLines(), std::vector<std::string>{"c"});
    EXPECT_EQ(state().liveTranscriptPendingText(), "typing");
    EXPECT_TRUE(state().liveTranscriptPending());
    EXPECT_EQ(state().liveTranscriptError(), "mic lost");
    EXPECT_EQ(notified(Field::liveTranscriptLines), 1);
}

TEST_F(AppStateLiveTest, SummarySectionIsBufferedOnItsOwn) {
    state().setSummarySectionVisible(false);
    state().updateLiveSummary("# Notes");
    state().updateLiveSummaryPending(true);
    state().updateLiveSummaryError("quota");
    state().updateLiveTranscriptPendingText("still shown");
    EXPECT_EQ(state().liveSummary(), "");
    EXPECT_FALSE(state().liveSummaryError());
    EXPECT_EQ(state().liveTranscriptPendingText(), "still shown");

    state().setSummarySectionVisible(true);
    EXPECT_EQ(state().liveSummary(), "# Notes");
    EXPECT_TRUE(state().liveSummaryPending());
    EXPECT_EQ(state().liveSummaryError(), "quota");
}

TEST_F(AppStateLiveTest, EveryActivityNotifiesEvenWhenRepeated) {
    const LiveActivityInfo activity{
        .purpose = "review", .summary = "reading the draft", .workState = "focused"};
    watch({Field::liveActivity});
    state().updateLiveActivity(activity);
    state().updateLiveActivity(activity);
    EXPECT_EQ(notified(Field::liveActivity), 2);
    state().setActivitySectionVisible(true); // the same activity again
    EXPECT_EQ(notified(Field::liveActivity), 3);
    state().updateLiveActivity(std::nullopt);
    state().updateLiveActivity(std::nullopt);
    EXPECT_EQ(notified(Field::liveActivity), 5);
    EXPECT_FALSE(state().liveActivity());
}

TEST_F(AppStateLiveTest, FullTranscriptJoinsLinesAndInterimText) {
    struct Case {
        std::vector<std::string> lines;
        std::string pending;
        std::string expected;
    };
    const Case cases[] = {{{"a", "b"}, "c", "a\nb\nc"},
                          {{"a", "b"}, "", "a\nb"},
                          {{}, "", ""},
                          {{}, "c", "c"},
                          {{""}, "c", "\nc"}};
    for (const Case& c : cases) {
        state().updateLiveTranscriptLines(c.lines);
        state().updateLiveTranscriptPendingText(c.pending);
        EXPECT_EQ(state().fullLiveTranscript(), c.expected);
    }
}

} // namespace
} // namespace velnote
