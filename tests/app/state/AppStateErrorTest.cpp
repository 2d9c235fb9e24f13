#include "app/state/AppState.h"
#include "platform/logging/Logger.h"
#include "session/l10n/L10n.h"
#include "support/AppStateFixture.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
using Field = AppStateField;

// Keeps the alerts open until the test closes them.
class FakeAlertPresenter : public ErrorAlertPresenter {
  public:
    void showCriticalAlert(const Alert& alert, std::function<void()> dismissed) override {
        shown.push_back(alert);
        open.push_back(std::move(dismissed));
    }
    std::vector<Alert> shown;
    std::vector<std::function<void()>> open;
};

class AppStateErrorTest : public testing::AppStateFixture {
  protected:
    void SetUp() override { state().setErrorAlertPresenter(alerts_); }
    std::shared_ptr<FakeAlertPresenter> alerts_ = std::make_shared<FakeAlertPresenter>();
};

TEST(AppStateErrorMessageTest, KnownSystemTextsAreReplaced) {
    struct Case {
        const char* systemText;
        const char* key;
        const char* defaultText;
    };
    const Case cases[] = {
        {"A server with the specified hostname could not be found.", "L10n.Errors.serverNotFound",
         "サーバーが見つかりません。URLやネットワーク設定を確認してください。"},
        {"The request timed out.", "L10n.Errors.requestTimedOut",
         "リクエストがタイムアウトしました。ネットワーク環境を確認してください。"},
        {"The network connection was lost.", "L10n.Errors.networkLost", "ネットワーク接続が失われました。"},
        {"Could not connect to the server.", "L10n.Errors.cannotConnect", "サーバーに接続できませんでした。"},
        {"The Internet connection appears to be offline.", "L10n.Errors.offline",
         "インターネットに接続されていません。"},
        {"The data couldn\u2019t be read because it isn\u2019t in the correct format.",
         "L10n.Errors.invalidDataFormat", "データの形式が正しくありません。"},
        {"You don\u2019t have permission to save the file", "L10n.Errors.permissionDenied",
         "ファイルの保存権限がありません。"},
    };
    for (const Case& c : cases) {
        const std::string replacement = L10n::localized(c.key, c.defaultText);
        EXPECT_EQ(AppState::improveErrorMessage(std::string("Upload failed: ") + c.systemText),
                  "Upload failed: " + replacement)
            << c.key;
    }
}

TEST(AppStateErrorMessageTest, ReplacesEveryOccurrenceAndKeepsTheRest) {
    const std::string lost = L10n::localized("L10n.Errors.networkLost", "ネットワーク接続が失われました。");
    EXPECT_EQ(AppState::improveErrorMessage(
                  "The network connection was lost. Retry: The network connection was lost."),
              lost + " Retry: " + lost);
    const std::string denied =
        L10n::localized("L10n.Errors.permissionDenied", "ファイルの保存権限がありません。");
    EXPECT_EQ(
        AppState::improveErrorMessage("You don\u2019t have permission to save the file \u201cs.json\u201d."),
        denied + " \u201cs.json\u201d.");
}

TEST(AppStateErrorMessageTest, OtherTextsStayAsTheyAre) {
    for (const char* text : {"", "Disk full", "the request timed out.",
                             // the ASCII apostrophe is not the system's text
                             "You don't have permission to save the file",
                             "The data couldn't be read because it isn't in the correct format."}) {
        EXPECT_EQ(AppState::improveErrorMessage(text), text);
    }
}

TEST_F(AppStateErrorTest, ANonFatalErrorGoesToTheStatusLineAndAnAlert) {
    state().setRecordingState(RecordingState::recording());
    state().presentError("Disk full", false);
    EXPECT_EQ(state().statusMessage(), "Disk full");
    EXPECT_EQ(state().recordingState(), RecordingState::recording());
    ASSERT_EQ(alerts_->shown.size(), 1u);
    EXPECT_EQ(alerts_->shown[0].title, L10n::localized("L10n.Recording.error", "Error"));
    EXPECT_EQ(alerts_->shown[0].message, "Disk full");
    EXPECT_EQ(alerts_->shown[0].buttonTitle, L10n::localized("L10n.Common.okLabel", "OK"));
    alerts_->open[0]();
    EXPECT_EQ(state().recordingState(), RecordingState::recording());
}

TEST_F(AppStateErrorTest, AFatalErrorHoldsTheErrorStateUntilItsAlertCloses) {
    state().setRecordingState(RecordingState::recording());
    state().presentError("The request timed out.", true);
    const std::string improved = AppState::improveErrorMessage("The request timed out.");
    EXPECT_EQ(state().statusMessage(), improved);
    EXPECT_EQ(state().recordingState(), RecordingState::error(improved));
    EXPECT_EQ(alerts_->shown.at(0).message, improved);

    state().setRecordingState(RecordingState::idle());
    state().presentError("second", true);
    alerts_->open.at(0)(); // the first alert ends the second error too
    EXPECT_EQ(state().recordingState(), RecordingState::idle());
    EXPECT_EQ(state().statusMessage(), "second");
}

TEST_F(AppStateErrorTest, AnAlertClosedAfterTheStateIsGoneDoesNothing) {
    state().presentError("x", true);
    state_.reset();
    alerts_->open.at(0)(); // would touch a destroyed state
}

TEST(AppStateDefaultPresenterTest, LogsTheAlertAndEndsAFatalErrorAtOnce) {
    testing::TempDir dir;
    platform::SettingsStore settings(dir / "settings.json");
    platform::ManualClock clock;
    platform::MainDispatcher main;
    platform::ThreadPool pool(2);
    AppState state({&settings, &clock, &main, &pool});
    std::vector<RecordingState> seen;
    auto token =
        state.observe(Field::recordingState, [&](AppStateField) { seen.push_back(state.recordingState()); });

    platform::LogCapture log;
    state.presentError("Disk full", true);
    EXPECT_TRUE(log.contains("Disk full"));
    EXPECT_EQ(seen, (std::vector{RecordingState::error("Disk full"), RecordingState::idle()}));
}

} // namespace
} // namespace velnote
