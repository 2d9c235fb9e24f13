#include "app/shell/AppDelegate.h"

#include "app/state/support/AppStateFixture.h"
#include "platform/settings/SettingsValue.h"
#include "support/ShellFakes.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
using Lines = std::vector<std::string>;

class FakeApplication final : public AppDelegate::Application {
  public:
    explicit FakeApplication(testing::Calls& calls) : calls_(calls) {}
    void terminate() override { calls_.add("terminate"); }
    void replyToTerminate() override { calls_.add("reply to terminate"); }
    void setAccessoryActivationPolicy() override { calls_.add("accessory policy"); }
    void installMainMenu() override { calls_.add("main menu"); }
    void reopenWindows() override { calls_.add("reopen windows"); }

  private:
    testing::Calls& calls_;
};

class FakeMicDetection final : public AppDelegate::MicDetection {
  public:
    explicit FakeMicDetection(testing::Calls& calls) : calls_(calls) {}
    void setup() override { calls_.add("mic setup"); }
    void startMonitoring() override { calls_.add("mic start monitoring"); }
    void stopMonitoring() override { calls_.add("mic stop monitoring"); }
    bool isEnabled() const override { return enabled; }
    bool currentInputDeviceIsRunning() override { return inputRunning; }
    void willTerminate() override { calls_.add("mic will terminate"); }

    bool enabled = true;
    bool inputRunning = false;

  private:
    testing::Calls& calls_;
};

class AppDelegateTest : public testing::AppStateFixture {
  protected:
    AppDelegate& delegate() {
        if (!delegate_) {
            auto log = [this](std::string line) { return [this, line] { calls_.add(line); }; };
            delegate_ = std::make_unique<AppDelegate>(AppDelegate::Dependencies{
                .application = &application_,
                .micDetection = &mic_,
                .appState = &state(),
                .mainDispatcher = &main_,
                .settings = &settings_,
                .acquireSingleInstanceLock =
                    [this] {
                        calls_.add("lock");
                        return lockHeld_;
                    },
                .activateRunningInstance = log("activate running instance"),
                .applyLaunchAtLogin =
                    [this](bool enabled) {
                        calls_.add(std::string("launch at login ") + (enabled ? "on" : "off"));
                    },
                .setupMenuBar = log("menu bar"),
                .attachRecordingWindow = log("recording window"),
                .startProcessingQueue = log("processing queue"),
                .scheduleNightlyBatch = log("nightly batch"),
                .cleanupExpiredSessions = log("cleanup expired sessions"),
                .trimSpeechCache = log("trim speech cache"),
                .setupUserNotifications = log("notifications"),
                .stopRecordingForQuit =
                    [this](std::function<void()> done) {
                        calls_.add("stop recording for quit");
                        quitDone_ = std::move(done);
                    },
                .stopNightlyTimer = log("stop nightly timer"),
            });
        }
        return *delegate_;
    }

    testing::Calls calls_;
    FakeApplication application_{calls_};
    FakeMicDetection mic_{calls_};
    bool lockHeld_ = true;
    std::function<void()> quitDone_;
    std::unique_ptr<AppDelegate> delegate_;
};

TEST_F(AppDelegateTest, LaunchRunsEveryStepInOrderAndLeavesTheSlowOnesToTheMainLoop) {
    settings_.set("launchAtLogin", platform::SettingsValue(true));

    EXPECT_TRUE(delegate().applicationDidFinishLaunching());
    EXPECT_EQ(calls_.take(), (Lines{"lock", "accessory policy", "main menu", "launch at login on", "menu bar",
                                    "recording window", "mic setup", "nightly batch",
                                    "cleanup expired sessions", "notifications"}));
    // The queue start and the cache trim run once the launch has returned.
    main_.runPending();
    EXPECT_EQ(calls_.take(), (Lines{"processing queue", "trim speech cache"}));

    EXPECT_EQ(settings_.string("outputLanguage"), "en");
    EXPECT_TRUE(settings_.boolean("enableVoiceProcessing"));
}

TEST_F(AppDelegateTest, ASecondInstanceActivatesTheFirstAndQuitsWithoutStartingAnything) {
    lockHeld_ = false;
    EXPECT_FALSE(delegate().applicationDidFinishLaunching());
    main_.runPending();
    EXPECT_EQ(calls_.take(), (Lines{"lock", "activate running instance", "terminate"}));
    EXPECT_EQ(delegate().applicationShouldTerminate(), AppDelegate::TerminateReply::now);
    EXPECT_FALSE(settings_.object("outputLanguage")); // nothing registered
}

TEST_F(AppDelegateTest, MicrophoneInUseAtLaunchStartsMonitoringOnceMoreAfterTheLaunch) {
    struct Case {
        bool enabled;
        bool inputRunning;
        RecordingState state;
        bool startsAgain;
    };
    for (const Case& c :
         {Case{true, true, RecordingState::idle(), true}, Case{true, false, RecordingState::idle(), false},
          Case{false, true, RecordingState::idle(), false},
          Case{true, true, RecordingState::recording(), false}}) {
        delegate_.reset();
        state().setRecordingState(c.state);
        mic_.enabled = c.enabled;
        mic_.inputRunning = c.inputRunning;
        delegate().applicationDidFinishLaunching();
        calls_.take();
        main_.runPending();
        const Lines after = calls_.take();
        EXPECT_EQ(std::count(after.begin(), after.end(), "mic start monitoring"), c.startsAgain ? 1 : 0)
            << c.enabled << c.inputRunning;
    }
}

TEST_F(AppDelegateTest, SettingsChangesSwitchDetectionAndRearmTheNightlyBatch) {
    delegate().applicationDidFinishLaunching();
    main_.runPending();
    calls_.take();

    mic_.enabled = false;
    settings_.set("enableAutoMicDetection", platform::SettingsValue(false));
    main_.runPending();
    mic_.enabled = true;
    settings_.set("enableAutoMicDetection", platform::SettingsValue(true));
    main_.runPending();
    settings_.set("nightlyBatchHour", platform::SettingsValue(std::int64_t{4}));
    settings_.set("nightlyBatch", platform::SettingsValue(true));
    settings_.set("sessionRetentionDays", platform::SettingsValue(std::int64_t{7})); // the recorder's
    main_.runPending();

    EXPECT_EQ(calls_.take(),
              (Lines{"mic stop monitoring", "mic start monitoring", "nightly batch", "nightly batch"}));
}

TEST_F(AppDelegateTest, QuitIsImmediateWhenIdleAndWaitsForTheStoppedRecordingOtherwise) {
    delegate().applicationDidFinishLaunching();
    calls_.take();
    EXPECT_EQ(delegate().applicationShouldTerminate(), AppDelegate::TerminateReply::now);
    EXPECT_TRUE(calls_.take().empty());

    for (const RecordingState& state : {RecordingState::starting(), RecordingState::recording(),
                                        RecordingState::stopping(), RecordingState::error("disk full")}) {
        delegate_.reset();
        this->state().setRecordingState(state);
        EXPECT_EQ(delegate().applicationShouldTerminate(), AppDelegate::TerminateReply::later);
        // Asking again while the stop runs starts no second stop.
        EXPECT_EQ(delegate().applicationShouldTerminate(), AppDelegate::TerminateReply::later);
        EXPECT_EQ(calls_.take(), (Lines{"stop recording for quit"}));
        quitDone_();
        EXPECT_EQ(calls_.take(), (Lines{"reply to terminate"}));
    }

    delegate().applicationWillTerminate();
    EXPECT_EQ(calls_.take(), (Lines{"mic will terminate", "stop nightly timer"}));
}

TEST_F(AppDelegateTest, ReopenBringsTheWindowsBack) {
    EXPECT_TRUE(delegate().applicationShouldHandleReopen());
    EXPECT_EQ(calls_.take(), (Lines{"reopen windows"}));
}

} // namespace
} // namespace velnote
