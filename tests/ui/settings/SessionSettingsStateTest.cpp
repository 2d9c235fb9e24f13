#include "ui/settings/SessionSettingsState.h"

#include "session/support/FakeSecretStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using S = ProviderSetting;

SessionConfig runningConfig() {
    SessionConfig c;
    c.outputLanguage = "en";
    c.transcription.whisperModel = "small";
    c.transcription.provider = TranscriptionProvider::openAI;
    c.transcription.providerModel = "whisper-1";
    c.summary.provider = "openai";
    c.summary.promptKey = "worklog";
    c.summary.resolvedPrompt = PromptCatalog::prompt("worklog");
    c.summary.providerModel = "gpt-4o";
    c.liveSummary.provider = "local";
    c.liveSummary.prompt = "Summarise live.";
    c.capture.screenshotEnabled = true;
    c.capture.screenshotEmbedMaxWidth = 640;
    return c;
}

// A running recording whose configuration the rules edit, with the services they tell recorded.
class SessionSettingsStateTest : public ::testing::Test {
  protected:
    std::unique_ptr<SessionSettingsState> makeState() {
        SessionSettingsEnvironment env;
        env.defaults = &store;
        env.keychain = KeychainHelper(secrets);
        env.activeConfig = [this] { return recording ? std::optional<SessionConfig>(config) : std::nullopt; };
        env.mutateActiveSessionConfig = [this](const std::function<void(SessionConfig&)>& edit) {
            ++edits;
            if (!recording) {
                return false;
            }
            edit(config);
            return true;
        };
        env.updateInputLanguage = [this](std::optional<std::string> language) {
            inputLanguages.push_back(language);
        };
        env.updateLiveSummaryOutputLanguage = [this](const std::string& language) {
            outputLanguages.push_back(language);
        };
        env.updateLiveSummaryProvider = [this](const LiveSummaryProviderUpdate& update) {
            liveUpdates.push_back(update);
        };
        env.updateScreenshotEnabled = [this](bool enabled) { screenshotSwitches.push_back(enabled); };
        env.changeScreenshotDisplay = [this](std::int64_t index) { displays.push_back(index); };
        return std::make_unique<SessionSettingsState>(env);
    }
    std::unique_ptr<SessionSettingsState> shownState() {
        auto state = makeState();
        state->appear();
        state->activateRules();
        edits = 0;
        return state;
    }

    testing::TempDir dir;
    platform::SettingsStore store{dir.path() / "settings.json"};
    std::shared_ptr<testing::FakeSecretStore> secrets = std::make_shared<testing::FakeSecretStore>();
    bool recording = true;
    SessionConfig config = runningConfig();
    int edits = 0;
    std::vector<std::optional<std::string>> inputLanguages;
    std::vector<std::string> outputLanguages;
    std::vector<LiveSummaryProviderUpdate> liveUpdates;
    std::vector<bool> screenshotSwitches;
    std::vector<std::int64_t> displays;
};

TEST_F(SessionSettingsStateTest, OpeningTheWindowShowsTheConfigurationAndChangesNothing) {
    auto state = makeState();
    state->activateRules(); // also on a later showing, with rules already running
    const SessionConfig before = config;
    state->appear();
    EXPECT_EQ(state->whisperModel.get(), "small");
    EXPECT_EQ(state->transcriptionProvider.get(), "openai");
    EXPECT_EQ(state->transcriptionProviderModel.get(), "whisper-1");
    EXPECT_EQ(state->inputLanguage.get(), "auto");
    EXPECT_EQ(state->numberOfSpeakers.get(), 0);
    EXPECT_EQ(state->summaryProvider.get(), "openai");
    EXPECT_EQ(state->summaryPromptMode.get(), "preset");
    EXPECT_EQ(state->summaryPromptPreset.get(), "worklog");
    EXPECT_EQ(state->intermediatePromptCustom.get(), PromptCatalog::prompt("worklog"));
    EXPECT_EQ(state->liveSummaryPrompt.get(), "Summarise live.");
    EXPECT_EQ(state->screenshotEmbedMaxWidth.get(), 640);
    EXPECT_EQ(edits, 0);
    EXPECT_EQ(config, before); // the provider model in particular is left as frozen
    EXPECT_TRUE(inputLanguages.empty());
    EXPECT_TRUE(screenshotSwitches.empty());
    EXPECT_TRUE(liveUpdates.empty());
    ASSERT_NE(state->summaryProviderSettings(), nullptr);
    EXPECT_EQ(state->summaryProviderSettings()->text(S::openAIModel), "gpt-4o");
}

TEST_F(SessionSettingsStateTest, PromptKeysDecideTheModeThePresetAndTheIntermediateText) {
    struct Case {
        std::optional<std::string> key;
        std::optional<std::string> intermediateKey;
        std::string resolved;
        std::string intermediateResolved;
        std::string mode;
        std::string preset;
        std::string custom;
        std::string intermediate;
    };
    const std::vector<Case> cases = {
        {.key = std::nullopt,
         .intermediateKey = std::nullopt,
         .resolved = "",
         .intermediateResolved = "",
         .mode = "preset",
         .preset = "minutes",
         .custom = "",
         .intermediate = ""},
        {.key = "",
         .intermediateKey = std::nullopt,
         .resolved = "",
         .intermediateResolved = "",
         .mode = "preset",
         .preset = "minutes",
         .custom = "",
         .intermediate = ""},
        {.key = "poems",
         .intermediateKey = std::nullopt,
         .resolved = "",
         .intermediateResolved = "",
         .mode = "preset",
         .preset = "poems",
         .custom = "",
         .intermediate = PromptCatalog::prompt("minutes")},
        {.key = "custom",
         .intermediateKey = std::nullopt,
         .resolved = "Mine.",
         .intermediateResolved = "",
         .mode = "custom",
         .preset = "minutes",
         .custom = "Mine.",
         .intermediate = "Mine."},
        {.key = "custom",
         .intermediateKey = std::nullopt,
         .resolved = "Mine.",
         .intermediateResolved = "Notes.",
         .mode = "custom",
         .preset = "minutes",
         .custom = "Mine.",
         .intermediate = "Notes."},
        {.key = "minutes",
         .intermediateKey = "seminar",
         .resolved = "",
         .intermediateResolved = "",
         .mode = "preset",
         .preset = "minutes",
         .custom = "",
         .intermediate = PromptCatalog::prompt("seminar")},
    };
    for (const Case& c : cases) {
        config.summary.promptKey = c.key;
        config.summary.intermediatePromptKey = c.intermediateKey;
        config.summary.resolvedPrompt = c.resolved;
        config.summary.intermediateResolvedPrompt = c.intermediateResolved;
        auto state = makeState();
        state->appear();
        EXPECT_EQ(state->summaryPromptMode.get(), c.mode) << c.key.value_or("none");
        EXPECT_EQ(state->summaryPromptPreset.get(), c.preset) << c.key.value_or("none");
        EXPECT_EQ(state->summaryPromptCustom.get(), c.custom) << c.key.value_or("none");
        EXPECT_EQ(state->intermediatePromptCustom.get(), c.intermediate) << c.key.value_or("none");
    }
}

TEST_F(SessionSettingsStateTest, ABlankLivePromptShowsTheBuiltInOne) {
    config.liveSummary.prompt = " \n";
    auto state = makeState();
    state->appear();
    EXPECT_EQ(state->liveSummaryPrompt.get(), PromptCatalog::liveSummaryPrompt(false));
}

TEST_F(SessionSettingsStateTest, TranscriptionChangesAreWrittenAtOnceWithTheirNoneValues) {
    auto state = shownState();
    state->inputLanguage.set("de");
    state->inputLanguage.set("auto");
    EXPECT_EQ(config.transcription.language, std::nullopt);
    EXPECT_EQ(inputLanguages, (std::vector<std::optional<std::string>>{"de", std::nullopt}));

    state->numberOfSpeakers.set(3);
    EXPECT_EQ(config.transcription.numberOfSpeakers, 3);
    state->numberOfSpeakers.set(0);
    EXPECT_EQ(config.transcription.numberOfSpeakers, std::nullopt);

    state->transcriptionProviderModel.set("  ");
    EXPECT_EQ(config.transcription.providerModel, "  ");
    state->transcriptionProviderModel.set("");
    EXPECT_EQ(config.transcription.providerModel, std::nullopt);

    state->transcriptionProvider.set("whatever");
    EXPECT_EQ(config.transcription.provider, TranscriptionProvider::localWhisper);
    state->transcriptionProvider.set("openai");
    EXPECT_EQ(config.transcription.provider, TranscriptionProvider::openAI);

    state->outputLanguage.set("fr");
    EXPECT_EQ(config.outputLanguage, "fr");
    EXPECT_EQ(outputLanguages, std::vector<std::string>{"fr"});
}

TEST_F(SessionSettingsStateTest, ChoosingAProviderTakesItsDetailsFromTheGlobalSettings) {
    store.set("claudeCLICommand", "/opt/claude");
    store.set("claudeCLIModel", "sonnet");
    auto state = shownState();
    config.summary.providerBaseURL = "https://old";
    config.summary.cliArgs = "old";

    state->summaryProvider.set("ollama");
    EXPECT_EQ(config.summary.provider, "ollama");
    EXPECT_EQ(config.summary.providerModel, std::nullopt);
    EXPECT_EQ(config.summary.providerBaseURL, std::nullopt);
    EXPECT_EQ(config.summary.cliCommand, std::nullopt);
    EXPECT_EQ(config.summary.cliArgs, std::nullopt);

    state->summaryProvider.set("claude_cli");
    EXPECT_EQ(config.summary.cliCommand, "/opt/claude");
    EXPECT_EQ(config.summary.cliArgs, "--print");
    EXPECT_EQ(config.summary.providerModel, "sonnet");

    EXPECT_EQ(state->resolveProviderDetails(SummaryProvider::antigravityCLI).args,
              "-p {prompt} --dangerously-skip-permissions");
    EXPECT_EQ(state->resolveProviderDetails(SummaryProvider::openRouter).baseURL,
              "https://openrouter.ai/api");

    // The rebuilt model saves for the new provider: its model edit lands in the session.
    state->summaryProviderSettings()->setText(S::claudeCLIModel, "opus");
    EXPECT_EQ(config.summary.providerModel, "opus");
}

TEST_F(SessionSettingsStateTest, PromptEditsStoreKeyAndResolvedText) {
    auto state = shownState();
    state->summaryPromptMode.set("custom");
    EXPECT_EQ(config.summary.promptKey, "custom");
    EXPECT_EQ(config.summary.resolvedPrompt, "");
    state->summaryPromptMode.set("preset");
    state->summaryPromptPreset.set("unknown-preset");
    EXPECT_EQ(config.summary.promptKey, "unknown-preset");
    EXPECT_EQ(config.summary.resolvedPrompt, PromptCatalog::prompt("minutes"));

    state->applyIntermediatePrompt("");
    EXPECT_EQ(config.summary.intermediatePromptKey, "custom");
    EXPECT_EQ(config.summary.intermediateResolvedPrompt, "");
    state->resetIntermediatePrompt();
    EXPECT_EQ(config.summary.intermediateResolvedPrompt, PromptCatalog::intermediateNotePrompt(false));
}

TEST_F(SessionSettingsStateTest, TheLiveSummaryHearsOfPromptChangesNotOfProviderChanges) {
    store.set("ollamaModel", " llama3 ");
    auto state = shownState();
    state->liveSummaryPrompt.set("  ");
    EXPECT_EQ(config.liveSummary.prompt, "  "); // stored as typed
    ASSERT_EQ(liveUpdates.size(), 1u);
    EXPECT_EQ(liveUpdates[0], (LiveSummaryProviderUpdate{.provider = SummaryProvider::llamaCppLocal,
                                                         .prompt = PromptCatalog::liveSummaryPrompt(false),
                                                         .providerModel = "llama3",
                                                         .providerBaseURL = std::nullopt}));

    state->liveSummaryProvider.set("openrouter");
    EXPECT_EQ(config.liveSummary.provider, "openrouter");
    EXPECT_EQ(liveUpdates.size(), 1u);
    state->liveSummaryPrompt.set("New.");
    ASSERT_EQ(liveUpdates.size(), 2u);
    EXPECT_EQ(liveUpdates[1].provider, SummaryProvider::openRouter);
    EXPECT_EQ(liveUpdates[1].providerBaseURL, "https://openrouter.ai/api");
}

TEST_F(SessionSettingsStateTest, WithoutARecordingNothingIsWrittenButServicesAreStillTold) {
    auto state = shownState();
    recording = false;
    const SessionConfig before = config;
    state->screenshotEnabled.set(false);
    state->screenshotDisplayIndex.set(1);
    EXPECT_EQ(config, before);
    EXPECT_EQ(edits, 2);
    EXPECT_EQ(screenshotSwitches, std::vector<bool>{false});
    EXPECT_EQ(displays, std::vector<std::int64_t>{1});
}

TEST_F(SessionSettingsStateTest, ChunkConcurrencyIsTheGlobalSetting) {
    auto state = shownState();
    EXPECT_EQ(state->remoteChunkConcurrency(), 4);
    state->setRemoteChunkConcurrency(6);
    EXPECT_EQ(store.integer("remoteChunkConcurrency"), 6);
    EXPECT_EQ(edits, 0);
}

} // namespace
} // namespace velnote
