#include "session/settings/SessionConfigBacking.h"

#include "session/VelnoteLogger.h"
#include "support/FakeSecretStore.h"
#include "support/SessionSamples.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using Edit = SessionConfigBacking::Edit;

// A frozen configuration whose summary runs a command-line tool.
SessionConfig frozenConfig() {
    SessionConfig config = testing::sampleConfig();
    config.summary.provider = "copilot_cli";
    config.summary.providerModel = "gpt-5";
    config.summary.cliCommand = "copilot";
    config.summary.cliArgs = "--prompt {prompt} --silent";
    config.liveSummary.provider = "openai";
    config.liveSummary.providerModel = "gpt-4.1-mini";
    config.liveSummary.providerBaseURL = "https://api.openai.com";
    return config;
}

class SessionConfigBackingTest : public ::testing::Test {
  protected:
    // A backing whose write operation applies edits to config_ at once.
    std::unique_ptr<SessionConfigBacking> backing(bool isLiveSummary) {
        return std::make_unique<SessionConfigBacking>(
            config_, isLiveSummary, [this](const Edit& edit) { edit(config_); }, store_,
            KeychainHelper(keyring_));
    }

    testing::TempDir dir_;
    platform::SettingsStore store_{dir_ / "settings.json"};
    std::shared_ptr<testing::FakeSecretStore> keyring_ = std::make_shared<testing::FakeSecretStore>();
    SessionConfig config_ = frozenConfig();
};

TEST_F(SessionConfigBackingTest, ShowsTheSessionsValuesForItsProviderAndTheGlobalOnesElsewhere) {
    store_.set("openAIModel", "gpt-4o");
    store_.set("copilotModel", "copilot-global");
    store_.set("copilotCLIModel", "global-cli-model");
    store_.set("claudeCLICommand", "/opt/claude");
    config_.summary.provider = "openai";
    config_.summary.providerModel = "gpt-4.1-mini";
    config_.summary.providerBaseURL = "http://127.0.0.1:9";

    const auto summary = backing(false);
    EXPECT_TRUE(summary->isSessionOverride());
    EXPECT_EQ(summary->values().openAIModel, "gpt-4.1-mini");
    EXPECT_EQ(summary->values().openAIBaseURL, "http://127.0.0.1:9");
    EXPECT_EQ(summary->values().copilotModel, "copilot-global");
    EXPECT_EQ(summary->values().copilotCLIModel, "global-cli-model");
    EXPECT_EQ(summary->values().claudeCLICommand, "/opt/claude");
    EXPECT_EQ(summary->values().geminiModel, "gemini-1.5-flash");
    EXPECT_EQ(summary->values().localSummaryModel, "qwen");
    EXPECT_EQ(summary->values().localSummaryModelPath, "/models/q.gguf");
    EXPECT_TRUE(summary->values().preferDirectSummaryForLlamaCppLocal);

    config_ = frozenConfig(); // copilot_cli with its own command line
    const auto tool = backing(false);
    EXPECT_EQ(tool->values().copilotCLIModel, "gpt-5");
    EXPECT_EQ(tool->values().copilotCLICommand, "copilot");
    EXPECT_EQ(tool->values().antigravityCLIArgs, ""); // the args belong to the active tool only

    const auto live = backing(true);
    EXPECT_EQ(live->values().openAIModel, "gpt-4.1-mini");
    EXPECT_EQ(live->values().openAIBaseURL, "https://api.openai.com");
    EXPECT_EQ(live->values().copilotCLIModel, "global-cli-model");
}

TEST_F(SessionConfigBackingTest, ApiKeysComeFromTheKeyringEachTimeAndCannotBeSet) {
    const auto summary = backing(false);
    EXPECT_EQ(summary->apiKey(ProviderAPIKey::openAI), "");
    keyring_->items[{kBundleIdentifier, "openAIAPIKey"}] = "sk-later";
    summary->setAPIKey(ProviderAPIKey::openAI, "sk-typed");
    EXPECT_EQ(summary->apiKey(ProviderAPIKey::openAI), "sk-later");
    summary->commit(SummaryProvider::openAI);
    EXPECT_EQ((keyring_->items[{kBundleIdentifier, "openAIAPIKey"}]), "sk-later");
}

TEST_F(SessionConfigBackingTest, CommitSetsOnlyTheActiveProvidersFields) {
    using Values = ProviderSettingsValues;
    const struct {
        const char* name;
        bool isLiveSummary;
        SummaryProvider active;
        std::function<void(Values&)> change;
        std::function<void(SessionConfig&)> expectedChange; // from frozenConfig()
    } cases[] = {
        {"local drops model and endpoint, keeps the command line", false, SummaryProvider::llamaCppLocal,
         [](Values& v) { v.localSummaryModel = "llama"; },
         [](SessionConfig& c) {
             c.summary.localModel = "llama";
             c.summary.providerModel = std::nullopt;
             c.summary.providerBaseURL = std::nullopt;
         }},
        {"claude_cli keeps the other tool's args, takes its command", false, SummaryProvider::claudeCLI,
         [](Values& v) {
             v.claudeCLICommand = " /opt/claude \n";
             v.claudeCLIModel = " sonnet ";
         },
         [](SessionConfig& c) {
             c.summary.providerModel = "sonnet";
             c.summary.providerBaseURL = std::nullopt;
             c.summary.cliCommand = "/opt/claude";
         }},
        {"a blank command keeps the frozen one", false, SummaryProvider::claudeCLI,
         [](Values& v) { v.claudeCLICommand = "  "; },
         [](SessionConfig& c) {
             c.summary.providerModel = std::nullopt;
             c.summary.providerBaseURL = std::nullopt;
         }},
        {"antigravity sets command and args", false, SummaryProvider::antigravityCLI,
         [](Values& v) {
             v.antigravityCLICommand = "agy";
             v.antigravityCLIArgs = "-p {prompt}";
         },
         [](SessionConfig& c) {
             c.summary.providerModel = std::nullopt;
             c.summary.providerBaseURL = std::nullopt;
             c.summary.cliCommand = "agy";
             c.summary.cliArgs = "-p {prompt}";
         }},
        {"openrouter has no endpoint", false, SummaryProvider::openRouter,
         [](Values& v) {
             v.openRouterModel = "router-model";
             v.openAIBaseURL = "http://ignored";
         },
         [](SessionConfig& c) {
             c.summary.providerModel = "router-model";
             c.summary.providerBaseURL = std::nullopt;
         }},
        {"a blank model is no model", false, SummaryProvider::openAI,
         [](Values& v) {
             v.openAIModel = " \t ";
             v.openAIBaseURL = " http://127.0.0.1:9 ";
         },
         [](SessionConfig& c) {
             c.summary.providerModel = std::nullopt;
             c.summary.providerBaseURL = "http://127.0.0.1:9";
         }},
        {"empty local model path is none", false, SummaryProvider::openAI,
         [](Values& v) {
             v.localSummaryModelPath = "";
             v.openAIModel = "gpt-4o";
             v.preferDirectSummaryForAppleLocalLLM = false;
         },
         [](SessionConfig& c) {
             c.summary.localModelPath = std::nullopt;
             c.summary.providerModel = "gpt-4o";
             c.summary.providerBaseURL = std::nullopt; // the global endpoint setting is blank
             c.summary.preferDirectSummaryForAppleLocalLLM = false;
         }},
        {"live sets only the live model and endpoint", true, SummaryProvider::ollama,
         [](Values& v) {
             v.ollamaModel = "llama3.2";
             v.ollamaBaseURL = "";
             v.localSummaryModel = "ignored";
             v.claudeCLICommand = "ignored";
         },
         [](SessionConfig& c) {
             c.liveSummary.providerModel = "llama3.2";
             c.liveSummary.providerBaseURL = std::nullopt;
         }},
        {"live cli tool has no command here", true, SummaryProvider::copilotCLI,
         [](Values& v) {
             v.copilotCLIModel = "m";
             v.copilotCLICommand = "/opt/copilot";
         },
         [](SessionConfig& c) {
             c.liveSummary.providerModel = "m";
             c.liveSummary.providerBaseURL = std::nullopt;
         }},
    };
    for (const auto& c : cases) {
        config_ = frozenConfig();
        const auto edited = backing(c.isLiveSummary);
        c.change(edited->values());
        edited->commit(c.active);
        SessionConfig expected = frozenConfig();
        c.expectedChange(expected);
        EXPECT_EQ(config_, expected) << c.name;
    }
}

TEST_F(SessionConfigBackingTest, OpenRouterKeepsItsFreeOnlySwitchInTheSettingsOfTheVariant) {
    for (const bool isLiveSummary : {false, true}) {
        const auto edited = backing(isLiveSummary);
        edited->values().openRouterFreeOnly = true;
        edited->commit(SummaryProvider::openRouter);
    }
    EXPECT_EQ(store_.object("openRouterFreeOnly"), platform::SettingsValue(true));
    EXPECT_EQ(store_.object("liveSummaryOpenRouterFreeOnly"), platform::SettingsValue(true));

    // Other providers leave the settings alone.
    testing::TempDir dir;
    platform::SettingsStore untouched(dir / "settings.json");
    bool changed = false;
    auto token = untouched.observe([&](const std::string&) { changed = true; });
    SessionConfig config = config_;
    SessionConfigBacking applied(
        config_, false, [&](const Edit& edit) { edit(config); }, untouched, KeychainHelper(keyring_));
    applied.commit(SummaryProvider::openAI);
    EXPECT_FALSE(changed);
}

TEST_F(SessionConfigBackingTest, TheEditReadsTheValuesWhenItRunsAndNothingOnceTheBackingIsGone) {
    std::vector<Edit> pending;
    auto edited = std::make_unique<SessionConfigBacking>(
        config_, false, [&](const Edit& edit) { pending.push_back(edit); }, store_, KeychainHelper(keyring_));
    edited->commit(SummaryProvider::copilotCLI);
    edited->values().copilotCLIModel = "later";
    edited->commit(SummaryProvider::copilotCLI);
    ASSERT_EQ(pending.size(), 2u);

    SessionConfig config = frozenConfig();
    pending[0](config);
    EXPECT_EQ(config.summary.providerModel, "later");

    edited.reset();
    SessionConfig untouched = frozenConfig();
    pending[1](untouched);
    EXPECT_EQ(untouched, frozenConfig());
}

} // namespace
} // namespace velnote
