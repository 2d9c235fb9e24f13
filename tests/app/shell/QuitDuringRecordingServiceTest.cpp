#include "app/shell/AppDelegate.h"
#include "capture/controller/support/ControllerFixture.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
using namespace std::chrono_literals;

// What the application had on disk and in the queue when the delegate let it end.
struct AtTermination {
    bool replied = false;
    std::optional<double> recordingDuration;
    bool enqueued = false;
    std::vector<std::string> unclosedAtEnqueue;
    RecordingState state;
};

class RecordingApplication final : public AppDelegate::Application {
  public:
    RecordingApplication(std::function<void()> onReply) : onReply_(std::move(onReply)) {}
    void terminate() override {}
    void replyToTerminate() override { onReply_(); }
    void setAccessoryActivationPolicy() override {}
    void installMainMenu() override {}
    void reopenWindows() override {}

  private:
    std::function<void()> onReply_;
};

class NoMicDetection final : public AppDelegate::MicDetection {
  public:
    void setup() override {}
    void startMonitoring() override {}
    void stopMonitoring() override {}
    bool isEnabled() const override { return false; }
    bool currentInputDeviceIsRunning() override { return false; }
    void willTerminate() override {}
};

class QuitDuringRecordingServiceTest : public testing::ControllerFixture {};

TEST_F(QuitDuringRecordingServiceTest, QuitStopsTheRecordingWaitsForItsFilesAndOnlyThenEnds) {
    const auto sessionDir = start();
    ASSERT_TRUE(sessionDir);
    play("mic", 16000, 1, 1.0);
    clock_.advance(30s);

    AtTermination seen;
    RecordingApplication application([&] {
        seen.replied = true;
        seen.recordingDuration = SessionMetadataStore::read(*sessionDir).recordingDuration;
        seen.enqueued = calls_.contains("queue enqueue " + sessionDir->filename().string());
        seen.unclosedAtEnqueue = queue_->openAtEnqueue;
        seen.state = state_.recordingState();
    });
    NoMicDetection mic;
    AppDelegate delegate({
        .application = &application,
        .micDetection = &mic,
        .appState = &state_,
        .mainDispatcher = &main_,
        .settings = &settings_,
        .stopRecordingForQuit =
            [this](std::function<void()> done) { manager().stopRecordingForQuit(std::move(done)); },
    });

    EXPECT_EQ(delegate.applicationShouldTerminate(), AppDelegate::TerminateReply::later);
    EXPECT_FALSE(seen.replied); // the stop runs on; the application waits
    ASSERT_TRUE(pumpUntil([&] { return seen.replied; }));

    EXPECT_EQ(seen.recordingDuration, 30.0);
    EXPECT_TRUE(seen.enqueued);
    EXPECT_TRUE(seen.unclosedAtEnqueue.empty());
    EXPECT_EQ(seen.state, RecordingState::idle());
    EXPECT_FALSE(audioFiles(*sessionDir).empty());
    // Now idle: a further quit request ends at once.
    EXPECT_EQ(delegate.applicationShouldTerminate(), AppDelegate::TerminateReply::now);
}

} // namespace
} // namespace velnote
