#include "capture/autodetect/MicAutoDetectionCoordinator.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/logging/Logger.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Starts and stops "recordings" at once, as the recording controller's state would show them.
class FakeController final : public RecordingController {
  public:
    explicit FakeController(AppState& state) : state_(state) {}
    void startRecording(StartCompletion done) override {
        ++starts;
        if (state_.recordingState().phase() != RecordingState::Phase::idle) {
            done(std::nullopt);
            return;
        }
        const fs::path dir = "/w/session-" + std::to_string(starts);
        state_.setRecordingState(RecordingState::recording());
        state_.beginActiveSession(dir, SessionConfig{});
        done(dir);
    }
    void stopRecording(Completion done) override {
        ++stops;
        state_.setRecordingState(RecordingState::idle());
        state_.endActiveSession();
        if (done)
            done();
    }
    int starts = 0;
    int stops = 0;

  private:
    AppState& state_;
};

class FakePresenter final : public PromptAlertPresenter {
  public:
    void showPrompt(const Prompt& prompt, std::function<void(Response)> answered) override {
        shown.push_back(prompt);
        pending = std::move(answered);
    }
    void dismissPrompt() override { answer(Response::cancelled); }
    void answer(Response response) {
        if (auto answered = std::exchange(pending, {}))
            answered(response);
    }
    bool open() const { return static_cast<bool>(pending); }
    std::vector<Prompt> shown;
    std::function<void(Response)> pending;
};

class MicAutoDetectionCoordinatorTest : public ::testing::Test {
  protected:
    MicAutoDetectionCoordinator& coordinator() {
        if (!coordinator_) {
            coordinator_ = std::make_unique<MicAutoDetectionCoordinator>(
                MicAutoDetectionCoordinator::Dependencies{.controller = &controller_,
                                                          .appState = &state_,
                                                          .mainDispatcher = &main_,
                                                          .settings = &settings_,
                                                          .timers = &timers_,
                                                          .presenter = presenter_,
                                                          .monitor = {}});
        }
        return *coordinator_;
    }
    void advance(platform::Clock::Duration by) {
        clock_.advance(by);
        main_.runPending();
    }
    // The monitor reports a change: its callback hops to the main thread.
    void usageStarted() {
        coordinator().usageMonitor().onMicUsageStarted();
        main_.runPending();
    }
    void usageStopped() {
        coordinator().usageMonitor().onMicUsageStopped();
        main_.runPending();
    }

    testing::TempDir dir_;
    // No sound server: the monitor never starts, and only the test reports usage.
    testing::ScopedEnv noServer_{"PULSE_SERVER", "unix:" + (dir_ / "no-server").string()};
    platform::SettingsStore settings_{dir_ / "settings.json"};
    platform::ManualClock clock_;
    platform::MainDispatcher main_;
    platform::ThreadPool pool_{1};
    platform::TimerScheduler timers_{clock_};
    AppState state_{AppState::Dependencies{&settings_, &clock_, &main_, &pool_}};
    FakeController controller_{state_};
    std::shared_ptr<FakePresenter> presenter_ = std::make_shared<FakePresenter>();
    std::unique_ptr<MicAutoDetectionCoordinator> coordinator_;
};

TEST_F(MicAutoDetectionCoordinatorTest, TheSettingDecidesWhetherSetupMonitors) {
    EXPECT_TRUE(coordinator().isEnabled()); // never written
    settings_.set("enableAutoMicDetection", platform::SettingsValue(false));
    EXPECT_FALSE(coordinator().isEnabled());
    platform::LogCapture log;
    coordinator().setup();
    EXPECT_FALSE(coordinator().isMonitorActive());
    EXPECT_FALSE(log.contains("mic usage monitor")); // not even tried
}

TEST_F(MicAutoDetectionCoordinatorTest, AnUnansweredPromptClosesAfterTenSeconds) {
    coordinator().setup();
    platform::LogCapture log;
    usageStarted();
    usageStarted(); // one prompt at a time
    ASSERT_EQ(presenter_->shown.size(), 1u);
    EXPECT_EQ(presenter_->shown[0].title, "Microphone in use");
    EXPECT_EQ(presenter_->shown[0].message,
              "Another app started using the microphone. Start recording in Velnote?");
    EXPECT_EQ(presenter_->shown[0].confirmTitle, "Start Recording");
    EXPECT_EQ(presenter_->shown[0].cancelTitle, "Cancel");

    advance(9999ms);
    EXPECT_TRUE(presenter_->open());
    advance(1ms);
    EXPECT_FALSE(presenter_->open());
    EXPECT_FALSE(coordinator().isShowingPrompt());
    EXPECT_TRUE(log.contains("mic usage prompt timed out"));
    EXPECT_EQ(controller_.starts, 0);

    // An answered prompt leaves no timer behind.
    usageStarted();
    presenter_->answer(PromptAlertPresenter::Response::cancelled);
    advance(20s);
    EXPECT_EQ(presenter_->shown.size(), 2u);
    EXPECT_EQ(controller_.starts, 0);
}

TEST_F(MicAutoDetectionCoordinatorTest, NoPromptWhileARecordingRunsOrAfterTheMicIsFreeAgain) {
    coordinator().setup();
    for (RecordingState busy : {RecordingState::starting(), RecordingState::recording(),
                                RecordingState::stopping(), RecordingState::error("x")}) {
        state_.setRecordingState(busy);
        usageStarted();
    }
    EXPECT_TRUE(presenter_->shown.empty());

    state_.setRecordingState(RecordingState::idle());
    usageStarted();
    usageStopped(); // the other application let go before anyone answered
    EXPECT_FALSE(presenter_->open());
    EXPECT_FALSE(coordinator().isShowingPrompt());
    EXPECT_EQ(controller_.starts, 0);
}

TEST_F(MicAutoDetectionCoordinatorTest, ARecordingStartedByThePromptStopsWithTheOtherUseAndCoolsDown) {
    coordinator().setup();
    usageStarted();
    presenter_->answer(PromptAlertPresenter::Response::confirmed);
    ASSERT_EQ(controller_.starts, 1);
    ASSERT_EQ(state_.recordingState(), RecordingState::recording());

    platform::LogCapture log;
    usageStopped();
    EXPECT_EQ(controller_.stops, 1);
    EXPECT_TRUE(log.contains("external mic usage stopped; auto-stopping Velnote recording"));

    advance(4999ms);
    usageStarted();
    EXPECT_EQ(presenter_->shown.size(), 1u); // still cooling down
    advance(1ms);
    usageStarted();
    EXPECT_EQ(presenter_->shown.size(), 2u);
}

TEST_F(MicAutoDetectionCoordinatorTest, ARecordingTheUserStartedIsNeverStopped) {
    coordinator().setup();
    // Started from the menu.
    controller_.startRecording([](auto) {});
    usageStopped();
    EXPECT_EQ(controller_.stops, 0);
    controller_.stopRecording({});

    // Started from the prompt but stopped by the user; then a recording from the menu.
    usageStarted();
    presenter_->answer(PromptAlertPresenter::Response::confirmed);
    controller_.stopRecording({});
    controller_.startRecording([](auto) {});
    usageStopped();
    EXPECT_EQ(controller_.stops, 2); // only the user's own two stops
    EXPECT_EQ(state_.recordingState(), RecordingState::recording());
}

} // namespace
} // namespace velnote
