#include "capture/controller/AudioCaptureManager.h"
#include "platform/logging/Logger.h"
#include "session/l10n/L10n.h"
#include "support/ControllerFixture.h"

#include <cmath>
#include <gtest/gtest.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

class AudioCaptureManagerServiceTest : public testing::ControllerFixture {
  protected:
    // Whether `expected` appear in `lines` in this order (others may come between).
    static bool inOrder(const Lines& lines, const Lines& expected) {
        auto at = lines.begin();
        for (const std::string& line : expected) {
            at = std::find(at, lines.end(), line);
            if (at == lines.end())
                return false;
            ++at;
        }
        return true;
    }

    static constexpr const char* kName = "2025-01-31T09-15-00Z";
    fs::path sessionDir() const { return workingDir_ / kName; }
    SessionMetadata metadata() const { return SessionMetadataStore::read(sessionDir()); }
};

TEST_F(AudioCaptureManagerServiceTest, StartCreatesTheSessionFolderAndStartsEveryPartInOrder) {
    std::vector<RecordingState> states;
    auto token = state_.observe(AppStateField::recordingState,
                                [&](AppStateField) { states.push_back(state_.recordingState()); });
    std::vector<std::string> statusLines;
    auto statusToken = state_.observe(AppStateField::statusMessage,
                                      [&](AppStateField) { statusLines.push_back(state_.statusMessage()); });

    EXPECT_EQ(start(), sessionDir());

    const SessionMetadata first = metadata();
    EXPECT_EQ(first, SessionMetadata::initial(config_, clock_));
    EXPECT_EQ(calls_.take(), (Lines{"queue pause", std::string("queue active ") + kName,
                                    std::string("foreground monitor ") + kName, "foreground subscribe",
                                    "foreground front Meeting", "foreground polling",
                                    std::string("live transcript start ") + kName + " ja",
                                    std::string("live summary start ") + kName}));
    EXPECT_EQ(states, (std::vector<RecordingState>{RecordingState::starting(), RecordingState::recording()}));
    EXPECT_EQ(statusLines, (Lines{"Starting recording...", "Recording..."}));
    EXPECT_EQ(state_.activeSessionDir(), sessionDir());
    EXPECT_EQ(state_.activeSessionConfig(), config_);
    EXPECT_EQ(state_.recordingStartedAt(), at("2025-01-31T09:15:00Z"));
    EXPECT_EQ(gains_.micInputGain(), 1.5);
    EXPECT_EQ(gains_.sysInputGain(), 2.0);
    EXPECT_TRUE(alerts_->messages.empty());
    EXPECT_EQ(streamsOnServer(), 2u); // microphone and system audio

    // A second start while recording changes nothing.
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_TRUE(calls_.take().empty());
    EXPECT_EQ(state_.recordingState(), RecordingState::recording());
}

TEST_F(AudioCaptureManagerServiceTest, StopWritesTheFinalSessionFileAndHandsOverOnlyClosedChunks) {
    settings_.set("micInputGain", platform::SettingsValue(3.0));
    config_.summary.provider = "openai";
    start();
    play("mic", 16000, 1, 1.0);
    play("speaker", 48000, 2, 1.0);
    // The running session's settings change: diarization off, no summary.
    state_.mutateActiveSessionConfig([](SessionConfig& c) {
        c.transcription.diarizationEnabled = false;
        c.summary.provider = "";
    });
    const SessionConfig edited = *state_.activeSessionConfig();
    clock_.advance(42s);
    calls_.take();

    stop();

    const SessionMetadata final = metadata();
    EXPECT_EQ(final.recordingDuration, 42.0);
    EXPECT_EQ(final.config, edited);
    EXPECT_FALSE(final.config.transcription.diarizationEnabled);
    EXPECT_EQ(final.config.summary.provider, "");
    EXPECT_EQ(final.steps.diarization, StepState::fresh(StepStatus::skipped));
    EXPECT_EQ(final.steps.summary, StepState::fresh(StepStatus::skipped));
    EXPECT_EQ(final.steps.transcription, StepState::fresh(StepStatus::pending));
    EXPECT_EQ(final.createdAt, std::chrono::floor<std::chrono::seconds>(at("2025-01-31T09:15:00Z")));

    EXPECT_EQ(calls_.take(),
              (Lines{"live transcript stop", "live summary stop", "foreground stop", "queue active none",
                     "queue resume", std::string("queue enqueue ") + kName}));
    // Both sides recorded, and every chunk was closed before the folder was handed over.
    const Lines files = audioFiles(sessionDir());
    EXPECT_TRUE(std::count_if(files.begin(), files.end(), [](auto& f) { return f.starts_with("mic_"); }) >=
                1);
    EXPECT_TRUE(std::count_if(files.begin(), files.end(), [](auto& f) { return f.starts_with("sys_"); }) >=
                1);
    EXPECT_TRUE(queue_->openAtEnqueue.empty()) << queue_->openAtEnqueue.front();
    EXPECT_GT(live_->micBuffers.load(), 0);
    EXPECT_GT(live_->sysBuffers.load(), 0);
    EXPECT_EQ(streamsOnServer(), 0u);

    EXPECT_EQ(state_.recordingState(), RecordingState::idle());
    EXPECT_EQ(state_.statusMessage(), "Waiting for processing...");
    EXPECT_FALSE(state_.activeSessionDir());
    EXPECT_FALSE(state_.recordingStartedAt());
    EXPECT_EQ(gains_.micInputGain(), config_.audio.micInputGain); // back to the settings' values
    EXPECT_FALSE(manager().sessionDir());

    // Nothing left to stop: idle, nothing written, the queue left alone.
    stop();
    EXPECT_TRUE(calls_.take().empty());
    EXPECT_EQ(state_.recordingState(), RecordingState::idle());
}

TEST_F(AudioCaptureManagerServiceTest, ASessionFileCorruptedDuringTheRecordingIsRebuiltAtStop) {
    start();
    platform::writeFileAtomically(SessionMetadataStore::fileIn(sessionDir()), "{\"version\": 1, \"crea");
    clock_.advance(90s);
    stop();

    const SessionMetadata rebuilt = metadata();
    EXPECT_EQ(rebuilt.createdAt, std::chrono::floor<std::chrono::seconds>(at("2025-01-31T09:16:30Z")));
    EXPECT_EQ(rebuilt.config, config_);
    EXPECT_EQ(rebuilt.steps.transcription, StepState::fresh(StepStatus::pending));
    EXPECT_EQ(rebuilt.steps.diarization, StepState::fresh(StepStatus::pending));
    EXPECT_EQ(rebuilt.steps.summary, StepState::fresh(StepStatus::pending));
    EXPECT_EQ(rebuilt.recordingDuration, 90.0); // the duration is known: it is not thrown away
    // What was there is kept beside it, and the session is still handed over.
    EXPECT_EQ(platform::readFile(sessionDir() / "session.json.unreadable"), "{\"version\": 1, \"crea");
    EXPECT_TRUE(calls_.contains(std::string("queue enqueue ") + kName));
}

TEST_F(AudioCaptureManagerServiceTest, AFailedStartPresentsAFatalErrorAndResumesTheQueue) {
    struct Case {
        const char* name;
        std::function<void()> breakIt;
        std::function<void()> repair;
        const char* logLine;
    };
    const Case cases[] = {
        {"working folder",
         [&] {
             platform::writeFileAtomically(dir_ / "blocked", "");
             workingDir_ = dir_ / "blocked" / "W";
         },
         [&] { workingDir_ = dir_ / "WorkingSessions"; }, "failed to create working sessions directory"},
        {"first session.json", [&] { config_.audio.micInputGain = std::nan(""); },
         [&] { config_.audio.micInputGain = 1.5; }, "failed to write initial session metadata"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::LogCapture log;
        c.breakIt();
        std::vector<RecordingState> states;
        auto token = state_.observe(AppStateField::recordingState,
                                    [&](AppStateField) { states.push_back(state_.recordingState()); });
        EXPECT_EQ(start(), std::nullopt);
        EXPECT_TRUE(log.contains(c.logLine));
        EXPECT_EQ(states, (std::vector<RecordingState>{RecordingState::starting(), RecordingState::idle(),
                                                       RecordingState::error("Failed to prepare recording"),
                                                       RecordingState::idle()}));
        EXPECT_EQ(alerts_->messages, Lines{"Failed to prepare recording"});
        alerts_->messages.clear();
        const Lines calls = calls_.take();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls.front(), "queue pause");
        EXPECT_EQ(calls.back(), "queue resume"); // the queue does not wait for a later recording
        EXPECT_FALSE(state_.recordingStartedAt());
        EXPECT_FALSE(manager().sessionDir());
        EXPECT_EQ(streamsOnServer(), 0u);

        // Nothing stuck: the next start works.
        c.repair();
        clock_.advance(1s);
        ASSERT_TRUE(start());
        stop();
        calls_.take();
    }
}

TEST_F(AudioCaptureManagerServiceTest, TwoStartsWithinOneSecondGetTheirOwnFolders) {
    const auto first = start();
    play("mic", 16000, 1, 0.5);
    stop();
    const auto second = start(); // the clock has not moved
    stop();

    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->filename(), kName);
    EXPECT_EQ(second->filename(), std::string(kName) + "-2");
    EXPECT_EQ(SessionMetadataStore::read(*first).recordingDuration, 0.0);
    EXPECT_TRUE(fs::exists(*second / "session.json"));
    EXPECT_FALSE(audioFiles(*first).empty()); // the first recording's audio is untouched
    EXPECT_TRUE(calls_.contains(std::string("queue enqueue ") + kName));
    EXPECT_TRUE(calls_.contains(std::string("queue enqueue ") + kName + "-2"));
}

// The stop lets go of the old recording before it shows `idle`, so a start made at that moment
// keeps its own session (folder, configuration, captures) while the stop finishes.
TEST_F(AudioCaptureManagerServiceTest, AStartTheMomentAStopShowsIdleKeepsItsOwnSession) {
    start();
    std::optional<fs::path> second;
    bool secondStarted = false;
    auto token = state_.observe(AppStateField::recordingState, [&](AppStateField) {
        if (state_.recordingState() == RecordingState::idle() && !secondStarted) {
            secondStarted = true;
            clock_.advance(1s);
            manager().startRecording([&](std::optional<fs::path> dir) { second = dir; });
        }
    });
    stop();
    ASSERT_TRUE(pumpUntil([&] { return second.has_value(); }));
    EXPECT_EQ(second->filename(), "2025-01-31T09-15-01Z");
    EXPECT_EQ(state_.recordingState(), RecordingState::recording());
    EXPECT_EQ(state_.activeSessionDir(), second);
    EXPECT_EQ(manager().sessionDir(), second);
    EXPECT_EQ(streamsOnServer(), 2u);
    const Lines calls = calls_.take();
    EXPECT_TRUE(inOrder(
        calls, {std::string("queue enqueue ") + kName, "queue pause", "queue active 2025-01-31T09-15-01Z"}));
}

TEST_F(AudioCaptureManagerServiceTest, QuitDuringAStartFinishesTheStartThenStops) {
    std::optional<fs::path> started;
    bool startDone = false;
    bool stopDone = false;
    bool quitDone = false;
    manager().startRecording([&](std::optional<fs::path> dir) {
        started = dir;
        startDone = true;
    });
    ASSERT_EQ(state_.recordingState(), RecordingState::starting());
    manager().stopRecording([&] { stopDone = true; }); // a plain stop while starting is ignored
    EXPECT_TRUE(stopDone);
    manager().stopRecordingForQuit([&] { quitDone = true; });

    ASSERT_TRUE(pumpUntil([&] { return quitDone; }));
    EXPECT_TRUE(startDone);
    EXPECT_EQ(started, sessionDir());
    EXPECT_EQ(state_.recordingState(), RecordingState::idle());
    EXPECT_EQ(streamsOnServer(), 0u);
    EXPECT_EQ(metadata().recordingDuration, 0.0);
    EXPECT_TRUE(calls_.contains(std::string("queue enqueue ") + kName));
}

TEST_F(AudioCaptureManagerServiceTest, QuitWhileRecordingWaitsForTheChunksAndTheEdits) {
    start();
    play("speaker", 48000, 2, 0.5);
    state_.mutateActiveSessionConfig([](SessionConfig& c) { c.system.nightlyBatch = true; });
    quit();

    EXPECT_TRUE(metadata().config.system.nightlyBatch);
    EXPECT_TRUE(queue_->openAtEnqueue.empty());
    EXPECT_TRUE(calls_.contains(std::string("queue enqueue ") + kName));
    EXPECT_EQ(streamsOnServer(), 0u);

    // Quitting when idle stops nothing.
    calls_.take();
    quit();
    EXPECT_TRUE(calls_.take().empty());
}

TEST_F(AudioCaptureManagerServiceTest, AFatalErrorStopsTheRecordingAndLeavesTheErrorToItsAlert) {
    start();
    alerts_->holdOpen = true;
    state_.presentError("The saved-sessions folder can no longer be used", true);

    ASSERT_TRUE(pumpUntil([&] { return calls_.contains(std::string("queue enqueue ") + kName); }));
    pumpUntil([&] { return !manager().sessionDir(); });
    EXPECT_EQ(streamsOnServer(), 0u);
    EXPECT_TRUE(metadata().recordingDuration.has_value());
    EXPECT_EQ(state_.recordingState(),
              RecordingState::error("The saved-sessions folder can no longer be used"));
    EXPECT_EQ(state_.statusMessage(), "The saved-sessions folder can no longer be used");

    alerts_->closeAll();
    EXPECT_EQ(state_.recordingState(), RecordingState::idle());
    clock_.advance(5s);
    EXPECT_TRUE(start()); // a new recording, with nothing of the old one left running
    EXPECT_EQ(streamsOnServer(), 2u);
}

TEST_F(AudioCaptureManagerServiceTest, ScreenCaptureAndForegroundSwitchesDuringARecording) {
    // Outside a recording the switches do nothing.
    manager().updateScreenshotEnabled(true);
    manager().updateForegroundActivityTracking(false);
    EXPECT_TRUE(calls_.take().empty());

    config_.capture.screenshotEnabled = true;
    config_.capture.screenshotDisplayIndex = 1;
    settings_.set("screenshotPollNormal", platform::SettingsValue(0.0));
    settings_.set("screenshotSaveMinVideo", platform::SettingsValue(12.5));
    start();
    ASSERT_EQ(screen_->made.size(), 1u);
    EXPECT_EQ(screen_->made[0].displayID, 7u);
    EXPECT_EQ(screen_->made[0].pollNormal, 2);
    EXPECT_EQ(screen_->made[0].saveMinVideo, 12.5);
    EXPECT_EQ(screen_->made[0].sessionDir, sessionDir());
    EXPECT_TRUE(calls_.contains(std::string("live summary start ") + kName + " with monitor"));
    calls_.take();

    // Off and at once on again: the new monitor is the one the live summary ends with.
    manager().updateScreenshotEnabled(false);
    manager().updateScreenshotEnabled(true);
    manager().updateForegroundActivityTracking(false);
    manager().updateForegroundActivityTracking(true);
    ASSERT_TRUE(pumpUntil(
        [&] { return calls_.contains("live summary monitor set") && calls_.contains("foreground stop"); }));
    const Lines calls = calls_.take();
    EXPECT_TRUE(inOrder(calls, {"monitor 1 stop", "live summary monitor none", "monitor 2 start",
                                "live summary monitor set"}));
    EXPECT_TRUE(inOrder(calls, {"made monitor 2 for display 7", "monitor 2 start"}));
    EXPECT_TRUE(inOrder(calls, {std::string("foreground monitor ") + kName, "foreground subscribe",
                                "foreground front Meeting", "foreground polling"}));
    EXPECT_EQ(calls.size(), 10u);
    ASSERT_TRUE(state_.activeSessionConfig());
    EXPECT_TRUE(state_.activeSessionConfig()->capture.screenshotEnabled);

    // The display picker, the region picker and the live summary switch reach the running monitor
    // and the live summary through AppState.
    state_.changeScreenshotDisplay(2); // past the end: the main display
    manager().showRegionPicker();
    ASSERT_TRUE(screen_->completion);
    EXPECT_EQ(screen_->pickedOn->displayID, 7u);
    screen_->completion(ScreenRect{.x = 1500, .y = 40, .width = 640, .height = 480});
    EXPECT_EQ(state_.captureRegion(), (ScreenRect{.x = 60, .y = 40, .width = 640, .height = 480}));
    state_.setLiveSummaryIntervalMinutes(90);
    EXPECT_EQ(calls_.take(),
              (Lines{"monitor 2 display 1", "monitor 2 region 60", "live summary settings on 60"}));

    state_.waitForSessionMetadataWrites();
    EXPECT_TRUE(metadata().config.capture.foregroundActivityTrackingEnabled);
}

TEST_F(AudioCaptureManagerServiceTest, AManualScreenshotWithScreenCaptureOffUsesAMonitorOfItsOwn) {
    screen_->savedResult = dir_ / "ocr_0001.json";
    start();
    calls_.take();
    bool done = false;
    manager().captureScreenshotOCR([&] { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_EQ(calls_.take(),
              (Lines{"made monitor 1 for display 1", "monitor 1 manual screenshot", "open ocr_0001.json"}));
    EXPECT_EQ(state_.statusMessage(), "OCR text saved");
    EXPECT_FALSE(manager().screenMonitor()); // never started, never kept

    screen_->savedResult.reset();
    done = false;
    manager().captureScreenshotOCR([&] { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_EQ(state_.statusMessage(), "OCR screenshot failed");
}

TEST_F(AudioCaptureManagerServiceTest, WithoutTheLaterServicesARecordingStillRuns) {
    services_ = {};
    config_.capture.screenshotEnabled = true;
    platform::LogCapture log;
    EXPECT_TRUE(start());
    play("mic", 16000, 1, 0.5);
    stop();
    EXPECT_TRUE(log.contains("foreground activity tracking unavailable"));
    EXPECT_TRUE(log.contains("screen capture unavailable"));
    EXPECT_EQ(metadata().recordingDuration, 0.0);
    EXPECT_FALSE(audioFiles(sessionDir()).empty());
}

} // namespace
} // namespace velnote
