#include "ui/settings/PreferencesState.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/logging/Logger.h"
#include "platform/text/Whitespace.h"
#include "session/support/FakeSecretStore.h"
#include "support/QueuedExecutor.h"
#include "support/TempDir.h"

#include <cstddef>
#include <fstream>
#include <gtest/gtest.h>
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' allocator answers this (GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace velnote {
namespace {

using S = ProviderSetting;

// Bytes of heap the process holds now.
std::ptrdiff_t heapInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return static_cast<std::ptrdiff_t>(__sanitizer_get_current_allocated_bytes());
#else
    return static_cast<std::ptrdiff_t>(mallinfo2().uordblks);
#endif
}

class FakeProbe final : public PermissionProbe {
  public:
    PermissionFlags readImmediate() override {
        ++immediateReads;
        return {.accessibility = true, .screenRecording = false, .speechRecognition = true};
    }
    void readSlow(std::function<void(bool, bool)> completion) override {
        pending.push_back(std::move(completion));
    }

    int immediateReads = 0;
    std::vector<std::function<void(bool, bool)>> pending;
};

class PreferencesStateTest : public ::testing::Test {
  protected:
    PreferencesEnvironment environment() {
        PreferencesEnvironment made;
        made.defaults = &store;
        made.keychain = KeychainHelper(secrets);
        made.presentError = [this](const std::string& message) { errors.push_back(message); };
        made.applyLaunchAtLogin = [this](bool enabled) { launchAtLogin.push_back(enabled); };
        made.postNotification = [this](const std::string& name) { posted.push_back(name); };
        made.updateForegroundActivityTracking = [this](bool enabled) { tracking.push_back(enabled); };
        made.chooseDirectory = [this] { return chosen; };
        made.permissions = probe;
        made.supportsCLIProviders = supportsCLI;
        return made;
    }
    std::unique_ptr<PreferencesState> shown() {
        auto state = std::make_unique<PreferencesState>(environment());
        state->appear();
        return state;
    }

    testing::TempDir dir;
    platform::SettingsStore store{dir.path() / "settings.json"};
    std::shared_ptr<testing::FakeSecretStore> secrets = std::make_shared<testing::FakeSecretStore>();
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    bool supportsCLI = true;
    std::optional<std::filesystem::path> chosen;
    std::vector<std::string> errors;
    std::vector<bool> launchAtLogin;
    std::vector<std::string> posted;
    std::vector<bool> tracking;
};

TEST_F(PreferencesStateTest, BaseURLsMustBeLowerCaseHttpOrHttpsAndAreStoredTrimmed) {
    struct Case {
        std::string typed;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {.typed = "", .accepted = true},
        {.typed = "  https://api.example.com/v1 \n", .accepted = true},
        {.typed = "http://127.0.0.1:11434", .accepted = true},
        {.typed = "HTTPS://api.example.com", .accepted = false},
        {.typed = "localhost:11434", .accepted = false}, // the host would be the scheme
        {.typed = "ftp://example.com", .accepted = false},
        {.typed = "https://", .accepted = false},
        {.typed = std::string("https://a\0b", 11), .accepted = false},
    };
    for (const Case& c : cases) {
        errors.clear();
        auto state = shown();
        state->providerSettings().setText(S::ollamaBaseURL, c.typed);
        EXPECT_EQ(state->commitDraftsToStorage(), c.accepted) << c.typed;
        if (c.accepted) {
            EXPECT_EQ(store.string("ollamaBaseURL"), platform::trimWhitespace(c.typed));
        } else {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_NE(errors[0].find("Ollama Server URL"), std::string::npos) << errors[0];
            EXPECT_NE(store.string("ollamaBaseURL"), c.typed);
        }
    }
}

TEST_F(PreferencesStateTest, TheLiveSummaryBaseURLsAreNeitherCheckedNorTrimmed) {
    auto state = shown();
    state->liveSummaryProviderSettings().setText(S::geminiBaseURL, " not a url ");
    state->viewModel().liveSummaryProvider.set("gemini");
    EXPECT_TRUE(state->commitDraftsToStorage());
    EXPECT_EQ(store.string("geminiBaseURL"), " not a url ");
}

TEST_F(PreferencesStateTest, ACommandLineToolOnlyTheLiveSummaryUsesNeedsTheSummaryDraftsCommand) {
    auto state = shown();
    state->viewModel().liveSummaryProvider.set("claude_cli");
    state->providerSettings().setText(S::claudeCLICommand, "  ");
    state->liveSummaryProviderSettings().setText(S::claudeCLICommand, "claude");
    EXPECT_FALSE(state->commitDraftsToStorage());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Claude CLI"), std::string::npos);
    EXPECT_FALSE(store.object("summaryProvider").has_value()); // nothing stored
}

TEST_F(PreferencesStateTest, OnlyTheFirstFailingCheckIsShown) {
    auto state = shown();
    state->providerSettings().setText(S::openAIBaseURL, "api.openai.com");
    state->viewModel().summaryProvider.set("claude_cli");
    state->providerSettings().setText(S::claudeCLICommand, "");
    EXPECT_FALSE(state->commitDraftsToStorage());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("OpenAI Base URL"), std::string::npos);
}

TEST_F(PreferencesStateTest, PathsMustNameAFolderForSessionsAndAFileForModels) {
    const auto file = dir.path() / "model.gguf";
    std::ofstream(file) << "gguf";
    struct Case {
        std::string audioDir;
        std::string modelPath;
        std::string errorPart; // empty: accepted
    };
    const std::vector<Case> cases = {
        {.audioDir = dir.path().string(), .modelPath = file.string(), .errorPart = ""},
        {.audioDir = " " + dir.path().string() + " ", .modelPath = "", .errorPart = ""},
        {.audioDir = (dir.path() / "missing").string(), .modelPath = "", .errorPart = "missing"},
        {.audioDir = file.string(), .modelPath = "", .errorPart = "model.gguf"},
        {.audioDir = "", .modelPath = dir.path().string(), .errorPart = "Local Summary Model"},
        {.audioDir = "", .modelPath = "~/model.gguf", .errorPart = "~/model.gguf"},
    };
    for (const Case& c : cases) {
        errors.clear();
        auto state = shown();
        state->viewModel().audioDir.set(c.audioDir);
        state->providerSettings().setText(S::localSummaryModelPath, c.modelPath);
        EXPECT_EQ(state->validatePaths(), c.errorPart.empty()) << c.audioDir << " " << c.modelPath;
        if (!c.errorPart.empty()) {
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_NE(errors[0].find(c.errorPart), std::string::npos) << errors[0];
        }
    }
}

TEST_F(PreferencesStateTest, TheSessionsFolderBookmarkFollowsTheDraftPath) {
    const auto folder = dir.path() / "sessions";
    std::filesystem::create_directory(folder);
    chosen = folder;
    auto state = shown();
    state->chooseDraftDirectory();
    ASSERT_TRUE(state->commitDraftsToStorage());
    EXPECT_EQ(store.string("audioDir"), folder.string());
    const auto bookmark = store.data("audioDirBookmark");
    ASSERT_TRUE(bookmark.has_value());

    // Saving again without touching the folder leaves the bookmark alone.
    store.set("audioDirBookmark", platform::SettingsData{1, 2, 3});
    state = shown();
    ASSERT_TRUE(state->commitDraftsToStorage());
    EXPECT_EQ(store.data("audioDirBookmark"), (platform::SettingsData{1, 2, 3}));

    // An emptied path removes the bookmark and stores the empty text.
    state->viewModel().audioDir.set("");
    ASSERT_TRUE(state->commitDraftsToStorage());
    EXPECT_FALSE(store.object("audioDirBookmark").has_value());
    EXPECT_EQ(store.object("audioDir"), platform::SettingsValue(""));
}

TEST_F(PreferencesStateTest, CancelDiscardsAChosenFolder) {
    chosen = dir.path();
    auto state = shown();
    state->chooseDraftDirectory();
    EXPECT_EQ(state->viewModel().audioDir.get(), dir.path().string());
    state->cancel();
    EXPECT_EQ(state->viewModel().audioDir.get(), "");
}

TEST_F(PreferencesStateTest, OnlyChangedSettingsAreAnnouncedInOrder) {
    struct Case {
        std::function<void(AppSettingsViewModel&)> edit;
        std::vector<std::string> posted;
        std::vector<bool> launchAtLogin;
        std::vector<bool> tracking;
    };
    const std::vector<Case> cases = {
        {.edit = [](AppSettingsViewModel&) {}, .posted = {}, .launchAtLogin = {}, .tracking = {}},
        {.edit = [](AppSettingsViewModel& v) { v.nightlyBatchHour.set(3); },
         .posted = {"nightlyBatchSettingsChanged"},
         .launchAtLogin = {},
         .tracking = {}},
        {.edit =
             [](AppSettingsViewModel& v) {
                 v.enableAutoMicDetection.set(false);
                 v.sessionRetentionDays.set(7);
             },
         .posted = {"sessionRetentionSettingsChanged", "micDetectionSettingChanged"},
         .launchAtLogin = {},
         .tracking = {}},
        {.edit =
             [](AppSettingsViewModel& v) {
                 v.launchAtLogin.set(true);
                 v.foregroundActivityTrackingEnabled.set(false);
             },
         .posted = {},
         .launchAtLogin = {true},
         .tracking = {false}},
    };
    for (const Case& c : cases) {
        testing::TempDir fresh;
        platform::SettingsStore freshStore(fresh.path() / "settings.json");
        auto env = environment();
        env.defaults = &freshStore;
        PreferencesState state(env);
        state.appear();
        ASSERT_TRUE(state.commitDraftsToStorage()); // a first save stores what appearing showed
        posted.clear();
        launchAtLogin.clear();
        tracking.clear();
        c.edit(state.viewModel());
        ASSERT_TRUE(state.commitDraftsToStorage());
        EXPECT_EQ(posted, c.posted);
        EXPECT_EQ(launchAtLogin, c.launchAtLogin);
        EXPECT_EQ(tracking, c.tracking);
    }
}

TEST_F(PreferencesStateTest, AppearingRepairsWhatTheFormCannotShow) {
    store.set("summaryPromptMode", "Preset");
    store.set("summaryPromptPreset", "poems");
    store.set("summaryProvider", "copilot_cli");
    store.set("liveSummaryProvider", "nonsense");
    auto state = shown();
    EXPECT_EQ(state->viewModel().summaryPromptMode.get(), "preset");
    EXPECT_EQ(state->viewModel().summaryPromptPreset.get(), "minutes");
    EXPECT_EQ(state->viewModel().summaryProvider.get(), "copilot_cli");
    EXPECT_EQ(state->viewModel().liveSummaryProvider.get(), "local");
    EXPECT_EQ(state->viewModel().liveSummaryPrompt.get(), ""); // left alone for an unknown provider

    store.set("liveSummaryProvider", "openai");
    store.set("liveSummaryPrompt", " \n ");
    supportsCLI = false;
    state = shown();
    EXPECT_EQ(state->viewModel().summaryProvider.get(), "local"); // store flavour
    EXPECT_EQ(state->viewModel().liveSummaryPrompt.get(), PromptCatalog::liveSummaryPrompt(false));
    EXPECT_FALSE(store.object("summaryPromptMode") == platform::SettingsValue("preset")); // nothing stored
}

TEST_F(PreferencesStateTest, AnEditInOneProviderBlockSurvivesTheOthersSave) {
    store.set("openAIModel", "gpt-4o");
    store.set("claudeModel", "claude-a");
    store.set("ollamaModel", "llama3");
    secrets->items.clear();
    auto state = shown();
    state->providerSettings().setText(S::openAIModel, "gpt-4.1");             // summary block only
    state->liveSummaryProviderSettings().setText(S::claudeModel, "claude-b"); // live block only
    state->providerSettings().setText(S::ollamaModel, "qwen");                // both, differently
    state->liveSummaryProviderSettings().setText(S::ollamaModel, "phi");
    state->providerSettings().setText(S::openAIAPIKey, "sk-new");
    ASSERT_TRUE(state->commitDraftsToStorage());

    EXPECT_EQ(store.string("openAIModel"), "gpt-4.1");
    EXPECT_EQ(store.string("claudeModel"), "claude-b");
    EXPECT_EQ(store.string("ollamaModel"), "phi"); // the live draft is stored last
    EXPECT_EQ(KeychainHelper(secrets).load("openAIAPIKey"), "sk-new");

    // Both drafts now agree with storage, so the next save keeps it.
    ASSERT_TRUE(state->commitDraftsToStorage());
    EXPECT_EQ(store.string("openAIModel"), "gpt-4.1");
    EXPECT_EQ(state->liveSummaryProviderSettings().text(S::openAIModel), "gpt-4.1");
    EXPECT_EQ(state->providerSettings().text(S::ollamaModel), "phi");
}

TEST_F(PreferencesStateTest, PermissionFlagsArriveInTwoStepsAndAgainAfterTheDelay) {
    platform::ManualClock clock;
    platform::TimerScheduler timers(clock);
    testing::QueuedExecutor main;
    auto state = shown();
    EXPECT_TRUE(state->permissions().accessibility);
    EXPECT_FALSE(state->permissions().notifications);
    ASSERT_EQ(probe->pending.size(), 1u);
    probe->pending.back()(true, true);
    EXPECT_TRUE(state->permissions().microphone);
    EXPECT_TRUE(state->permissions().notifications);

    state->refreshPermissionStatesDeferred(timers, main);
    clock.advance(std::chrono::milliseconds(499));
    main.runAll();
    EXPECT_EQ(probe->immediateReads, 1);
    clock.advance(std::chrono::milliseconds(1));
    main.runAll();
    EXPECT_EQ(probe->immediateReads, 2);

    // An answer for a window state that is gone is dropped.
    state.reset();
    probe->pending.back()(false, false);
}

// Every "Open Settings" press schedules a refresh; a refresh that has run keeps nothing behind.
TEST_F(PreferencesStateTest, FiredDeferredRefreshesHoldNoMemory) {
    platform::ManualClock clock;
    platform::TimerScheduler timers(clock);
    testing::QueuedExecutor main;
    auto state = shown();
    const auto press = [&] {
        state->refreshPermissionStatesDeferred(timers, main, std::chrono::milliseconds(10));
        clock.advance(std::chrono::milliseconds(10));
        main.runAll();
        for (auto& answer : probe->pending) {
            answer(true, true);
        }
        probe->pending.clear();
    };
    for (int i = 0; i < 100; ++i) {
        press();
    }
    const std::ptrdiff_t before = heapInUse();
    for (int i = 0; i < 2000; ++i) {
        press();
    }
    EXPECT_EQ(probe->immediateReads, 2101);
    // A kept timer costs well over 100 bytes, so 2,000 of them would hold more than 200 KB.
    EXPECT_LT(heapInUse() - before, 32 * 1024);
}

TEST_F(PreferencesStateTest, TheDefaultFolderLabelAndPresetLabels) {
    testing::ScopedEnv data("XDG_DATA_HOME", (dir.path() / "data").string());
    auto state = shown();
    EXPECT_TRUE(state->defaultAudioDirLabelText().starts_with("Default: " + (dir.path() / "data").string()))
        << state->defaultAudioDirLabelText();
    EXPECT_EQ(state->summaryPresetLabel("worklog"), "Work Log Writer");
    EXPECT_EQ(state->summaryPresetLabel("unknown"), "Meeting Minutes Writer");
}

} // namespace
} // namespace velnote
