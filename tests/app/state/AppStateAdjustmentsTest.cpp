#include "app/state/AppState.h"
#include "platform/fs/Files.h"
#include "session/folder/SessionMetadataStore.h"
#include "support/AppStateFixture.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using Field = AppStateField;

// What the audio threads and the running recording were handed.
struct Handed final : SharedInputGains, SharedMuteFlags, RecordingAdjustments {
    void setMicInputGain(double gain) override { calls.push_back("micGain " + std::to_string(gain)); }
    void setSysInputGain(double gain) override { calls.push_back("sysGain " + std::to_string(gain)); }
    void setMicMuted(bool muted) override {
        calls.push_back(std::string("micMuted ") + (muted ? "on" : "off"));
    }
    void setSysMuted(bool muted) override {
        calls.push_back(std::string("sysMuted ") + (muted ? "on" : "off"));
    }
    void updateLiveSummarySettings(bool enabled, std::int64_t minutes) override {
        calls.push_back("liveSummary " + std::string(enabled ? "on " : "off ") + std::to_string(minutes));
    }
    void updateCaptureRegion(std::optional<ScreenRect> region) override {
        calls.push_back(region ? "region " + std::to_string(region->x) : std::string("region none"));
    }
    void changeScreenshotDisplay(std::int64_t index) override {
        calls.push_back("display " + std::to_string(index));
    }
    std::vector<std::string> take() { return std::exchange(calls, {}); }
    std::vector<std::string> calls;
};

class AppStateAdjustmentsTest : public testing::AppStateFixture {
  protected:
    void SetUp() override {
        state().setSharedInputGains(handed_);
        state().setSharedMuteFlags(handed_);
        state().setRecordingAdjustments(handed_);
    }

    fs::path sessionDir() const { return dir_ / "2025-01-31T09-15-00Z"; }

    // A running recording whose "session.json" has a finished transcription and a headline.
    void startRecording() {
        SessionConfig config;
        config.summary.provider = "openai";
        config.audio.micInputGain = 1.0;
        config.audio.sysInputGain = 1.0;
        config.liveSummary.intervalMinutes = 5;
        fs::create_directories(sessionDir());
        SessionMetadata metadata = SessionMetadata::initial(config, clock_);
        metadata.steps.transcription = StepState::fresh(StepStatus::done);
        metadata.steps.summary = {StepStatus::failed, {}, {}, "timeout", 2};
        metadata.summaryHeadline = "Weekly sync";
        SessionMetadataStore::write(metadata, sessionDir());
        state().beginActiveSession(sessionDir(), config);
        state().setRecordingState(RecordingState::recording());
    }
    SessionMetadata written() {
        state().waitForSessionMetadataWrites();
        return SessionMetadataStore::read(sessionDir());
    }

    std::shared_ptr<Handed> handed_ = std::make_shared<Handed>();
};

TEST_F(AppStateAdjustmentsTest, GainsAreBoundedAndReachEveryPlace) {
    struct Case {
        bool mic;
        double gain;
        double expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {.mic = true, .gain = 25, .expected = 20},   {.mic = true, .gain = 0.1, .expected = 0.5},
        {.mic = true, .gain = 7.5, .expected = 7.5}, {.mic = true, .gain = nan, .expected = 1},
        {.mic = true, .gain = inf, .expected = 20},  {.mic = false, .gain = 5, .expected = 3},
        {.mic = false, .gain = -1, .expected = 0.5}, {.mic = false, .gain = nan, .expected = 1},
    };
    startRecording();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.gain));
        c.mic ? state().setMicInputGain(c.gain) : state().setSysInputGain(c.gain);
        EXPECT_EQ(c.mic ? state().micInputGain() : state().sysInputGain(), c.expected);
        EXPECT_EQ(handed_->take(),
                  std::vector<std::string>{(c.mic ? "micGain " : "sysGain ") + std::to_string(c.expected)});
        EXPECT_EQ(settings_.doubleValue(c.mic ? "micInputGain" : "sysInputGain"), c.expected);
        const SessionConfig& config = *state().activeSessionConfig();
        EXPECT_EQ(c.mic ? config.audio.micInputGain : config.audio.sysInputGain, c.expected);
        const SessionMetadata onDisk = written();
        EXPECT_EQ(c.mic ? onDisk.config.audio.micInputGain : onDisk.config.audio.sysInputGain, c.expected);
        EXPECT_EQ(onDisk.steps.summary, StepState::fresh(StepStatus::pending));
        EXPECT_EQ(onDisk.steps.transcription, StepState::fresh(StepStatus::done));
        EXPECT_EQ(onDisk.summaryHeadline, "Weekly sync");
    }
}

TEST_F(AppStateAdjustmentsTest, TheSameGainNotifiesNobodyButIsWrittenAgain) {
    startRecording();
    state().setMicInputGain(4);
    written();
    watch({Field::micInputGain, Field::activeSessionConfig});
    settings_.remove("micInputGain");
    platform::writeFileAtomically(SessionMetadataStore::fileIn(sessionDir()), "{ broken");
    handed_->take();

    state().setMicInputGain(4);
    EXPECT_EQ(notified(Field::micInputGain), 0);
    EXPECT_EQ(notified(Field::activeSessionConfig), 0);
    EXPECT_EQ(handed_->take(), std::vector<std::string>{"micGain 4.000000"});
    EXPECT_EQ(settings_.doubleValue("micInputGain"), 4);
    EXPECT_EQ(written().config.audio.micInputGain, 4); // rebuilt from the configuration
}

TEST_F(AppStateAdjustmentsTest, WithoutARecordingNoSessionFileIsTouched) {
    fs::create_directories(sessionDir());
    state().setMicInputGain(2);
    state().setLiveSummaryIntervalMinutes(9);
    state().waitForSessionMetadataWrites();
    EXPECT_EQ(state().micInputGain(), 2);
    EXPECT_EQ(settings_.doubleValue("micInputGain"), 2);
    EXPECT_EQ(settings_.integer("liveSummaryIntervalMinutes"), 9);
    EXPECT_FALSE(fs::exists(SessionMetadataStore::fileIn(sessionDir())));
    EXPECT_EQ(handed_->take(), (std::vector<std::string>{"micGain 2.000000", "liveSummary on 9"}));
}

TEST_F(AppStateAdjustmentsTest, LiveSummarySwitchAndIntervalReachTheServiceWithTheOtherValue) {
    startRecording();
    state().setLiveSummaryIntervalMinutes(0);
    EXPECT_EQ(state().liveSummaryIntervalMinutes(), 1);
    state().setLiveSummaryIntervalMinutes(90);
    EXPECT_EQ(state().liveSummaryIntervalMinutes(), 60);
    state().setLiveSummaryEnabled(false);
    EXPECT_EQ(handed_->take(),
              (std::vector<std::string>{"liveSummary off 1", "liveSummary off 60", "liveSummary off 60"}));
    EXPECT_EQ(settings_.integer("liveSummaryIntervalMinutes"), 60);
    EXPECT_EQ(settings_.object("liveSummaryEnabled"), platform::SettingsValue(false));
    const SessionMetadata onDisk = written();
    EXPECT_FALSE(onDisk.config.liveSummary.enabled);
    EXPECT_EQ(onDisk.config.liveSummary.intervalMinutes, 60);
}

TEST_F(AppStateAdjustmentsTest, MuteTogglesFlipBothCopiesAndStoreNothing) {
    startRecording();
    watch({Field::micMuted, Field::sysMuted, Field::activeSessionConfig});
    state().toggleMicMuted();
    state().toggleMicMuted();
    state().toggleSysMuted();
    EXPECT_FALSE(state().micMuted());
    EXPECT_TRUE(state().sysMuted());
    EXPECT_EQ(notified(Field::micMuted), 2);
    EXPECT_EQ(notified(Field::sysMuted), 1);
    EXPECT_EQ(notified(Field::activeSessionConfig), 0);
    EXPECT_EQ(handed_->take(), (std::vector<std::string>{"micMuted on", "micMuted off", "sysMuted on"}));
    EXPECT_FALSE(settings_.object("micMuted"));
}

TEST_F(AppStateAdjustmentsTest, RegionAndDisplayGoToTheRunningRecording) {
    watch({Field::captureRegion});
    state().setCaptureRegion(ScreenRect{.x = 60, .y = 0, .width = 800, .height = 600});
    state().setCaptureRegion(std::nullopt);
    state().setCaptureRegion(std::nullopt);
    state().changeScreenshotDisplay(2);
    EXPECT_EQ(notified(Field::captureRegion), 2);
    EXPECT_EQ(handed_->take(),
              (std::vector<std::string>{"region 60.000000", "region none", "region none", "display 2"}));

    state().setRecordingAdjustments(nullptr); // no recording controller: only the published field
    state().setCaptureRegion(ScreenRect{.width = 1});
    state().changeScreenshotDisplay(0);
    EXPECT_TRUE(handed_->take().empty());
    EXPECT_EQ(state().captureRegion(), (ScreenRect{.width = 1}));
}

} // namespace
} // namespace velnote
