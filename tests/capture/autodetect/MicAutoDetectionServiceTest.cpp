#include "capture/autodetect/MicAutoDetectionCoordinator.h"
#include "capture/controller/support/ControllerFixture.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
using namespace std::chrono_literals;

// Answers every prompt with `answer`, or keeps it open when there is none.
class ScriptedPresenter final : public PromptAlertPresenter {
  public:
    void showPrompt(const Prompt&, std::function<void(Response)> answered) override {
        ++shown;
        if (answer) {
            answered(*answer);
        } else {
            pending = std::move(answered);
        }
    }
    void dismissPrompt() override {
        ++dismissed;
        if (auto answered = std::exchange(pending, {}))
            answered(Response::cancelled);
    }
    std::optional<Response> answer;
    std::function<void(Response)> pending;
    int shown = 0;
    int dismissed = 0;
};

class MicAutoDetectionServiceTest : public testing::ControllerFixture {
  protected:
    MicAutoDetectionCoordinator& coordinator() {
        if (!coordinator_) {
            coordinator_ = std::make_unique<MicAutoDetectionCoordinator>(
                MicAutoDetectionCoordinator::Dependencies{.controller = &manager(),
                                                          .appState = &state_,
                                                          .mainDispatcher = &main_,
                                                          .settings = &settings_,
                                                          .timers = &timers_,
                                                          .presenter = presenter_,
                                                          .monitor = {}});
            coordinator_->setup();
        }
        return *coordinator_;
    }
    // Another application records from the default input (the "mic" sink's monitor).
    static testing::ChildProcess otherApplicationCall() {
        return testing::ChildProcess({"parecord", "--raw", "-d", "mic.monitor", "/dev/null"});
    }

    platform::TimerScheduler timers_{clock_};
    std::shared_ptr<ScriptedPresenter> presenter_ = std::make_shared<ScriptedPresenter>();
    std::unique_ptr<MicAutoDetectionCoordinator> coordinator_;
};

TEST_F(MicAutoDetectionServiceTest, AnotherApplicationsCallStartsARecordingThatEndsWithIt) {
    presenter_->answer = PromptAlertPresenter::Response::confirmed;
    ASSERT_TRUE(coordinator().isMonitorActive());
    std::optional<std::filesystem::path> sessionDir;
    {
        auto call = otherApplicationCall();
        ASSERT_TRUE(pumpUntil([&] { return state_.recordingState() == RecordingState::recording(); }));
        sessionDir = state_.activeSessionDir();
        play("mic", 16000, 1, 0.5); // our own capture of the same input does not count as a use
        EXPECT_EQ(state_.recordingState(), RecordingState::recording());
    }
    ASSERT_TRUE(sessionDir);
    ASSERT_TRUE(
        pumpUntil([&] { return calls_.contains("queue enqueue " + sessionDir->filename().string()); }));
    EXPECT_EQ(presenter_->shown, 1);
    EXPECT_TRUE(SessionMetadataStore::read(*sessionDir).recordingDuration.has_value());
    EXPECT_FALSE(audioFiles(*sessionDir).empty());
    EXPECT_EQ(streamsOnServer(), 0u);
    EXPECT_EQ(state_.recordingState(), RecordingState::idle());
}

TEST_F(MicAutoDetectionServiceTest, TurningDetectionOffClosesThePromptOnScreen) {
    ASSERT_TRUE(coordinator().isMonitorActive());
    auto call = otherApplicationCall();
    ASSERT_TRUE(pumpUntil([&] { return coordinator().isShowingPrompt(); }));
    coordinator().stopMonitoring();
    EXPECT_FALSE(coordinator().isShowingPrompt());
    EXPECT_EQ(presenter_->dismissed, 1);
    EXPECT_FALSE(presenter_->pending);
    EXPECT_FALSE(coordinator().isMonitorActive());
    EXPECT_EQ(state_.recordingState(), RecordingState::idle());
}

} // namespace
} // namespace velnote
