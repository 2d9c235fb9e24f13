#include "app/state/AppState.h"

#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/l10n/L10n.h"
#include "support/AppStateFixture.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using Field = AppStateField;

class AppStateTest : public testing::AppStateFixture {};

TEST_F(AppStateTest, StartsWithTheInitialValues) {
    const AppState& s = state();
    EXPECT_EQ(s.recordingState(), RecordingState::idle());
    EXPECT_EQ(s.statusMessage(), L10n::localized("L10n.Status.idle", "Idle"));
    EXPECT_EQ(s.micInputLevel(), 0.0);
    EXPECT_FALSE(s.micMuted());
    EXPECT_EQ(s.processingSessionCount(), 0);
    EXPECT_TRUE(s.sessionSnapshots().empty());
    EXPECT_FALSE(s.captureRegion());
    EXPECT_FALSE(s.activeSessionDir());
    EXPECT_FALSE(s.activeSessionConfig());
    EXPECT_TRUE(s.transcriptLinesBuffer().visible);
    EXPECT_TRUE(s.transcriptLinesBuffer().latest.empty());
}

// Each public setter with a first value, a value equal to it and a different one: the equal
// write notifies nobody, the others exactly once.
TEST_F(AppStateTest, SettersNotifyOnlyOnARealChange) {
    SessionStatusSnapshot snapshot;
    snapshot.id = "/w/2025-01-01-090000";
    SessionStatusSnapshot changed = snapshot;
    changed.summary.retryCount = 1;

    struct Case {
        Field field;
        std::function<void(AppState&)> first, equal, different;
    };
    const Case cases[] = {
        {Field::statusMessage, [](AppState& s) { s.setStatusMessage("Ready"); },
         [](AppState& s) { s.setStatusMessage("Ready"); }, [](AppState& s) { s.setStatusMessage("Busy"); }},
        {Field::recordingState, [](AppState& s) { s.setRecordingState(RecordingState::error("a")); },
         [](AppState& s) { s.setRecordingState(RecordingState::error("a")); },
         [](AppState& s) { s.setRecordingState(RecordingState::error("b")); }},
        {Field::captureRegion, [](AppState& s) { s.setCaptureRegion(std::nullopt); },
         [](AppState& s) { s.setCaptureRegion(std::nullopt); },
         [](AppState& s) { s.setCaptureRegion(ScreenRect{.width = 640, .height = 480}); }},
        {Field::processingSessionCount, [](AppState& s) { s.setProcessingSessionCount(1); },
         [](AppState& s) { s.setProcessingSessionCount(1); },
         [](AppState& s) { s.setProcessingSessionCount(0); }},
        {Field::sessionSnapshots, [=](AppState& s) { s.setSessionSnapshots({snapshot}); },
         [=](AppState& s) { s.setSessionSnapshots({snapshot}); },
         [=](AppState& s) { s.setSessionSnapshots({changed}); }},
        {Field::lastTranscriptPath,
         [](AppState& s) { s.setLastTranscriptPath(fs::path("/s/transcript.txt")); },
         [](AppState& s) { s.setLastTranscriptPath(fs::path("/s/transcript.txt")); },
         [](AppState& s) { s.setLastTranscriptPath(std::nullopt); }},
        {Field::expandedSessionID, [](AppState& s) { s.setExpandedSessionID(fs::path("/s")); },
         [](AppState& s) { s.setExpandedSessionID(fs::path("/s")); },
         [](AppState& s) { s.setExpandedSessionID(fs::path("/t")); }},
        {Field::recordingStartedAt,
         [](AppState& s) { s.setRecordingStartedAt(platform::Clock::WallTime(std::chrono::seconds(10))); },
         [](AppState& s) { s.setRecordingStartedAt(platform::Clock::WallTime(std::chrono::seconds(10))); },
         [](AppState& s) { s.setRecordingStartedAt(std::nullopt); }},
        {Field::isRecordingFloatingWindowVisible,
         [](AppState& s) { s.setRecordingFloatingWindowVisible(true); },
         [](AppState& s) { s.setRecordingFloatingWindowVisible(true); },
         [](AppState& s) { s.setRecordingFloatingWindowVisible(false); }},
    };
    for (const Case& c : cases) {
        c.first(state());
        watch({c.field});
        c.equal(state());
        EXPECT_EQ(notified(c.field), 0) << static_cast<int>(c.field);
        c.different(state());
        EXPECT_EQ(notified(c.field), 1) << static_cast<int>(c.field);
    }
    EXPECT_EQ(state().sessionSnapshots(), std::vector{changed});
}

TEST_F(AppStateTest, ObserversHearOnlyTheirFieldsAndStopWithTheirToken) {
    int calls = 0;
    auto token = state().observe({Field::statusMessage, Field::processingSessionCount},
                                 [&](AppStateField) { ++calls; });
    state().setStatusMessage("a");
    state().setProcessingSessionCount(3);
    state().setRecordingState(RecordingState::starting());
    EXPECT_EQ(calls, 2);
    token.reset();
    state().setStatusMessage("b");
    EXPECT_EQ(calls, 2);
}

TEST_F(AppStateTest, AnObserverMayDropAnotherDuringANotification) {
    AppState::ObservationToken second;
    int secondCalls = 0;
    auto first = state().observe(Field::statusMessage, [&](AppStateField) { second.reset(); });
    second = state().observe(Field::statusMessage, [&](AppStateField) { ++secondCalls; });
    state().setStatusMessage("x");
    EXPECT_EQ(secondCalls, 0);
}

TEST_F(AppStateTest, AWriteFromAnotherThreadIsReported) {
    state();
    platform::LogCapture log;
    std::thread([this] { state_->setStatusMessage("from a worker"); }).join();
    EXPECT_TRUE(log.contains("AppState.set called off the main thread"));
}

TEST_F(AppStateTest, AStoredNaNGainNotifiesOnEveryWrite) {
    SessionConfig config;
    config.audio.micInputGain = std::numeric_limits<double>::quiet_NaN();
    config.audio.sysInputGain = 2.0;
    watch({Field::micInputGain, Field::sysInputGain});
    state().beginActiveSession("/s", config);
    state().beginActiveSession("/s", config);
    EXPECT_EQ(notified(Field::micInputGain), 2);
    EXPECT_EQ(notified(Field::sysInputGain), 1);
}

TEST_F(AppStateTest, RuntimeValuesComeFromTheSettingsWithTheirBounds) {
    struct Case {
        const char* name;
        std::optional<platform::SettingsValue> micGain, sysGain, enabled, interval;
        double expectedMic, expectedSys;
        bool expectedEnabled;
        std::int64_t expectedInterval;
    };
    const Case cases[] = {
        {"nothing stored", {}, {}, {}, {}, 1.0, 1.0, true, 5},
        {"within range", 2.5, 1.5, false, std::int64_t{1}, 2.5, 1.5, false, 1},
        {"below the minimum", 0.2, 0.1, true, std::int64_t{0}, 0.5, 0.5, true, 5},
        {"above the maximum", 25.0, 4.0, true, std::int64_t{90}, 20.0, 3.0, true, 60},
        {"negative", -3.0, -1.0, true, std::int64_t{-2}, 1.0, 1.0, true, 5},
        {"other types", "abc", "2", "no", "12", 1.0, 2.0, true, 12},
    };
    for (const Case& c : cases) {
        const std::pair<const char*, const std::optional<platform::SettingsValue>*> stored[] = {
            {"micInputGain", &c.micGain},
            {"sysInputGain", &c.sysGain},
            {"liveSummaryEnabled", &c.enabled},
            {"liveSummaryIntervalMinutes", &c.interval}};
        for (const auto& [key, value] : stored) {
            if (*value) {
                settings_.set(key, **value);
            } else {
                settings_.remove(key);
            }
        }
        state_.reset();
        const AppState& s = state();
        EXPECT_EQ(s.micInputGain(), c.expectedMic) << c.name;
        EXPECT_EQ(s.sysInputGain(), c.expectedSys) << c.name;
        EXPECT_EQ(s.liveSummaryEnabled(), c.expectedEnabled) << c.name;
        EXPECT_EQ(s.liveSummaryIntervalMinutes(), c.expectedInterval) << c.name;
    }
    EXPECT_EQ(settings_.object("micInputGain")->coercedString(), "abc"); // nothing written back
}

TEST_F(AppStateTest, ActiveSessionTakesItsValuesAndGivesThemBackToTheSettings) {
    settings_.set("micInputGain", 50.0);
    SessionConfig config;
    config.audio.micInputGain = 50.0;
    config.audio.sysInputGain = 7.0;
    config.liveSummary.enabled = false;
    config.liveSummary.intervalMinutes = 0;

    state().beginActiveSession("/w/s1", config);
    EXPECT_EQ(state().activeSessionDir(), fs::path("/w/s1"));
    EXPECT_EQ(state().activeSessionConfig(), config);
    EXPECT_EQ(state().micInputGain(), 50.0); // the session's own value, unbounded
    EXPECT_EQ(state().sysInputGain(), 7.0);
    EXPECT_FALSE(state().liveSummaryEnabled());
    EXPECT_EQ(state().liveSummaryIntervalMinutes(), 1);

    state().endActiveSession();
    EXPECT_FALSE(state().activeSessionDir());
    EXPECT_FALSE(state().activeSessionConfig());
    EXPECT_EQ(state().micInputGain(), 20.0);
    EXPECT_EQ(state().sysInputGain(), 1.0);
    EXPECT_TRUE(state().liveSummaryEnabled());
    EXPECT_EQ(state().liveSummaryIntervalMinutes(), 5);
}

class AppStateSessionTest : public AppStateTest {
  protected:
    SessionConfig config() const {
        SessionConfig c;
        c.outputLanguage = "ja";
        c.summary.provider = "openai";
        c.audio.micInputGain = 1.0;
        c.audio.sysInputGain = 1.0;
        return c;
    }
    fs::path sessionDir() const { return dir_ / "2025-01-31-091500"; }

    // A recording in progress whose "session.json" has a finished transcription, a failed
    // summary and a headline, so a rewrite can be seen to keep and reset the right parts.
    void startRecording() {
        fs::create_directories(sessionDir());
        SessionMetadata metadata = SessionMetadata::initial(config(), clock_);
        metadata.steps.transcription = StepState::fresh(StepStatus::done);
        metadata.steps.summary = {StepStatus::failed, {}, {}, "timeout", 2};
        metadata.summaryHeadline = "Weekly sync";
        SessionMetadataStore::write(metadata, sessionDir());
        state().setRecordingState(RecordingState::starting());
        state().beginActiveSession(sessionDir(), config());
        state().setRecordingState(RecordingState::recording());
    }
    SessionMetadata written() {
        state().waitForSessionMetadataWrites();
        return SessionMetadataStore::read(sessionDir());
    }
};

TEST_F(AppStateSessionTest, EditsAreRefusedOutsideARecording) {
    EXPECT_FALSE(state().mutateActiveSessionConfig([](SessionConfig& c) { c.system.nightlyBatch = true; }));
    startRecording();
    const std::string before = platform::readFile(SessionMetadataStore::fileIn(sessionDir()));
    for (RecordingState refusing : {RecordingState::idle(), RecordingState::starting(),
                                    RecordingState::stopping(), RecordingState::error("x")}) {
        state().setRecordingState(refusing);
        EXPECT_FALSE(
            state().mutateActiveSessionConfig([](SessionConfig& c) { c.system.nightlyBatch = true; }));
    }
    EXPECT_FALSE(state().activeSessionConfig()->system.nightlyBatch);
    state().waitForSessionMetadataWrites();
    EXPECT_EQ(platform::readFile(SessionMetadataStore::fileIn(sessionDir())), before);
}

TEST_F(AppStateSessionTest, AnAcceptedEditIsPublishedAndRewritesTheSessionFile) {
    startRecording();
    const SessionMetadata before = SessionMetadataStore::read(sessionDir());
    watch({Field::activeSessionConfig});

    EXPECT_TRUE(state().mutateActiveSessionConfig([](SessionConfig& c) {
        c.transcription.diarizationEnabled = true;
        c.summary.provider = "";
    }));
    EXPECT_EQ(notified(Field::activeSessionConfig), 1);
    EXPECT_TRUE(state().activeSessionConfig()->transcription.diarizationEnabled);

    const SessionMetadata after = written();
    EXPECT_EQ(after.config, *state().activeSessionConfig());
    EXPECT_EQ(after.steps.diarization, StepState::fresh(StepStatus::pending));
    EXPECT_EQ(after.steps.summary, StepState::fresh(StepStatus::skipped));
    EXPECT_EQ(after.steps.transcription, before.steps.transcription);
    EXPECT_EQ(after.summaryHeadline, "Weekly sync");
    EXPECT_EQ(after.createdAt, before.createdAt);

    // An edit that changes nothing notifies nobody but still rewrites the steps.
    platform::writeFileAtomically(SessionMetadataStore::fileIn(sessionDir()),
                                  SessionMetadataStore::encode(before));
    EXPECT_TRUE(state().mutateActiveSessionConfig([](SessionConfig&) {}));
    EXPECT_EQ(notified(Field::activeSessionConfig), 1);
    EXPECT_EQ(written().steps.diarization, StepState::fresh(StepStatus::pending));
}

TEST_F(AppStateSessionTest, ACorruptSessionFileIsRebuiltFromTheEditedConfiguration) {
    startRecording();
    platform::writeFileAtomically(SessionMetadataStore::fileIn(sessionDir()), "{ not json");
    clock_.advance(std::chrono::hours(1));
    ASSERT_TRUE(state().mutateActiveSessionConfig([](SessionConfig& c) { c.outputLanguage = "en"; }));

    const SessionMetadata rebuilt = written();
    EXPECT_EQ(rebuilt.config.outputLanguage, "en");
    EXPECT_EQ(rebuilt.steps.transcription.status, StepStatus::pending);
    EXPECT_EQ(rebuilt.steps.summary.status, StepStatus::pending);
    EXPECT_EQ(rebuilt.createdAt, std::chrono::floor<std::chrono::seconds>(clock_.wallNow()));
    EXPECT_FALSE(rebuilt.summaryHeadline);
}

TEST_F(AppStateSessionTest, AFolderThatVanishedIsLoggedNotThrown) {
    startRecording();
    fs::remove_all(sessionDir());
    platform::LogCapture log;
    ASSERT_TRUE(state().mutateActiveSessionConfig([](SessionConfig& c) { c.outputLanguage = "en"; }));
    state().waitForSessionMetadataWrites();
    EXPECT_TRUE(log.contains("failed to write fallback session metadata"));
}

// Holds posted jobs until run() and then runs them newest first, the worst order a pool could
// pick.
class HeldExecutor : public platform::Executor {
  public:
    void post(platform::Job job) override { jobs_.push_back(std::move(job)); }
    void run() {
        while (!jobs_.empty()) {
            auto job = std::move(jobs_.back());
            jobs_.pop_back();
            job();
        }
    }

  private:
    std::vector<platform::Job> jobs_;
};

// A slider sends many values in a row: every one is written, in order, so the file ends with
// the last configuration, not an older one finishing late.
TEST_F(AppStateSessionTest, RapidEditsLeaveTheLastConfigurationOnDisk) {
    HeldExecutor held;
    metadataExecutor_ = &held;
    startRecording();
    for (int i = 1; i <= 5; ++i) {
        EXPECT_TRUE(state().mutateActiveSessionConfig([i](SessionConfig& c) { c.audio.micInputGain = i; }));
    }
    held.run();
    EXPECT_EQ(written().config.audio.micInputGain, 5.0);
    EXPECT_EQ(state().activeSessionConfig()->audio.micInputGain, 5.0);
}

} // namespace
} // namespace velnote
