#include "app/shell/FolderErrorReporting.h"

#include "app/state/support/AppStateFixture.h"
#include "support/ShellFakes.h"

#include <gtest/gtest.h>
#include <thread>

namespace velnote {
namespace {

class FolderErrorReportingTest : public testing::AppStateFixture {
  protected:
    void report(const std::string& message) {
        // The resolver reports on whatever thread resolved the folder.
        std::thread([&] { savedSessionsFolderErrorReporter(state(), main_)(message); }).join();
        main_.runPending();
    }
    std::shared_ptr<testing::HeldAlerts> alerts_ = std::make_shared<testing::HeldAlerts>();
};

TEST_F(FolderErrorReportingTest, AnUnusableSavedFolderIsFatalOnlyWithoutARecording) {
    state().setErrorAlertPresenter(alerts_);

    report("The saved-sessions folder is gone");
    EXPECT_EQ(state().statusMessage(), "The saved-sessions folder is gone");
    EXPECT_EQ(state().recordingState(), RecordingState::error("The saved-sessions folder is gone"));
    alerts_->closers.back()();
    EXPECT_EQ(state().recordingState(), RecordingState::idle());

    // During a recording the capture goes on: the error is shown, the recording state stays.
    state().setRecordingState(RecordingState::recording());
    report("The saved-sessions folder moved");
    EXPECT_EQ(state().statusMessage(), "The saved-sessions folder moved");
    EXPECT_EQ(state().recordingState(), RecordingState::recording());
    ASSERT_EQ(alerts_->alerts.size(), 2u);
    alerts_->closers.back()();
    EXPECT_EQ(state().recordingState(), RecordingState::recording());
}

} // namespace
} // namespace velnote
