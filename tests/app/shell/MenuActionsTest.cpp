#include "app/shell/MenuActions.h"

#include "app/state/support/AppStateFixture.h"
#include "platform/fs/Files.h"
#include "support/ShellFakes.h"

#include <gtest/gtest.h>
#include <set>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class MenuActionsTest : public testing::AppStateFixture {
  protected:
    MenuActions& actions() {
        if (!actions_) {
            state().setErrorAlertPresenter(alerts_);
            actions_ = std::make_unique<MenuActions>(MenuActions::Dependencies{
                .appState = &state(),
                .recorder = &recorder_,
                .windows = &windows_,
                .configForNewRecording = [this] { return config_; },
                .apiKeyPresent =
                    [this](SummaryProvider provider) {
                        calls_.add("key " + std::string(rawValue(provider)));
                        return !apiKeyAccount(provider) || keys_.contains(provider); // as the keyring check
                    },
                .workingSessionsDir = [this] { return workingDir_; },
                .savedSessionsDir =
                    [this] {
                        return ResolvedDirectory{dir_ / "Saved", [this] { calls_.add("release saved"); }};
                    },
                .openFolder =
                    [this](const fs::path& folder) {
                        calls_.add("open " + folder.filename().string());
                        return true;
                    },
            });
        }
        return *actions_;
    }

    testing::Calls calls_;
    testing::FakeRecorder recorder_{calls_};
    ShellWindows windows_ = testing::fakeWindows(calls_);
    std::shared_ptr<testing::HeldAlerts> alerts_ = std::make_shared<testing::HeldAlerts>();
    SessionConfig config_;
    std::set<SummaryProvider> keys_;
    fs::path workingDir_ = dir_ / "WorkingSessions";
    std::unique_ptr<MenuActions> actions_;
};

TEST_F(MenuActionsTest, AMissingAPIKeyStopsTheStartWithAMessageAndOpensThePreferences) {
    struct Case {
        const char* name;
        std::string summaryProvider;
        bool liveEnabled;
        std::string liveProvider;
        std::set<SummaryProvider> keys;
        Lines calls;                           // besides the start or the preferences
        std::optional<std::string> labelShown; // none: the recording starts
    };
    const Case cases[] = {
        {"summary provider without key", "openai", false, "", {}, {"key openai"}, "OpenAI API"},
        {"live summary provider without key",
         "local",
         true,
         "gemini",
         {},
         {"key local", "key gemini"},
         "Gemini API"},
        {"summary checked first", "claude_api", true, "openrouter", {}, {"key claude_api"}, "Claude API"},
        {"live summary off: its provider is not consulted", "local", false, "gemini", {}, {"key local"}, {}},
        {"empty and unknown providers pass", "", true, "somebody_else", {}, {}, {}},
        {"keys present",
         "copilot_api",
         true,
         "openai",
         {SummaryProvider::githubCopilotAPI, SummaryProvider::openAI},
         {"key copilot_api", "key openai"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        config_.summary.provider = c.summaryProvider;
        config_.liveSummary.enabled = c.liveEnabled;
        config_.liveSummary.provider = c.liveProvider;
        keys_ = c.keys;
        alerts_->alerts.clear();

        actions().toggleRecording();

        Lines expected = c.calls;
        expected.push_back(c.labelShown ? "show preferences" : "start recording");
        EXPECT_EQ(calls_.take(), expected);
        if (c.labelShown) {
            const std::string message =
                "API key for " + *c.labelShown + " is not configured. Please set it in Preferences.";
            ASSERT_EQ(alerts_->alerts.size(), 1u);
            EXPECT_EQ(alerts_->alerts[0].message, message);
            EXPECT_EQ(state().statusMessage(), message);
            EXPECT_EQ(state().recordingState(), RecordingState::idle()); // not fatal
        } else {
            EXPECT_TRUE(alerts_->alerts.empty());
        }
    }
}

TEST_F(MenuActionsTest, TheToggleStopsARecordingAndDoesNothingWhileTheStateMoves) {
    struct Case {
        RecordingState state;
        Lines calls;
    };
    for (const Case& c :
         {Case{RecordingState::recording(), {"stop recording"}}, Case{RecordingState::starting(), {}},
          Case{RecordingState::stopping(), {}}, Case{RecordingState::error("no disk"), {}}}) {
        state().setRecordingState(c.state);
        actions().toggleRecording();
        EXPECT_EQ(calls_.take(), c.calls) << c.state.menuTitle();
    }
}

TEST_F(MenuActionsTest, WindowItemsShowTheirWindows) {
    actions().openPreferences();
    actions().openUserDictionary();
    actions().openHallucinationFilter();
    actions().openModelManagement();
    actions().openSessionMonitor();
    actions().openAbout();
    EXPECT_EQ(calls_.take(), (Lines{"show preferences", "show user dictionary", "show hallucination filter",
                                    "show model management", "show session monitor", "show about"}));
}

TEST_F(MenuActionsTest, FolderItemsCreateAndOpenTheFolderOrSayTheyCouldNot) {
    actions().openWorkingSessionsFolder();
    actions().openSavedSessionsFolder();
    EXPECT_EQ(calls_.take(), (Lines{"open WorkingSessions", "open Saved", "release saved"}));
    EXPECT_TRUE(fs::is_directory(workingDir_));
    EXPECT_TRUE(fs::is_directory(dir_ / "Saved"));
    EXPECT_EQ(state().statusMessage(), "Idle"); // untouched

    // A file where the folder should be.
    workingDir_ = dir_ / "blocked" / "WorkingSessions";
    platform::writeFileAtomically(dir_ / "blocked", "x");
    actions().openWorkingSessionsFolder();
    EXPECT_TRUE(calls_.take().empty());
    EXPECT_EQ(state().statusMessage(), "Could not open folder");
}

} // namespace
} // namespace velnote
