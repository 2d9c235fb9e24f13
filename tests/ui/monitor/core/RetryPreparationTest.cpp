#include "ui/monitor/core/RetryPreparation.h"

#include "session/config/PromptCatalog.h"
#include "session/support/FakeSecretStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

class RetryPreparationTest : public ::testing::Test {
  protected:
    RetryPreparation preparation() {
        return RetryPreparation({.settings = &settings_, .keychain = &keychain_});
    }

    testing::TempDir dir_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
    std::shared_ptr<testing::FakeSecretStore> secrets_ = std::make_shared<testing::FakeSecretStore>();
    KeychainHelper keychain_{secrets_};
};

SessionMetadata metaWithSteps(StepStatus transcription, StepStatus diarization, StepStatus summary) {
    SessionMetadata meta;
    meta.steps.transcription.status = transcription;
    meta.steps.diarization.status = diarization;
    meta.steps.summary.status = summary;
    return meta;
}

TEST_F(RetryPreparationTest, StartStepFromTheSessionsSteps) {
    using S = StepStatus;
    struct Case {
        S transcription, diarization, summary;
        RetryStartStep expected;
    };
    const Case cases[] = {
        {S::failed, S::pending, S::pending, RetryStartStep::transcription},
        {S::done, S::failed, S::pending, RetryStartStep::diarization},
        {S::done, S::done, S::done, RetryStartStep::summary},
        {S::done, S::skipped, S::failed, RetryStartStep::summary},
        {S::pending, S::pending, S::pending, RetryStartStep::transcription}, // never ran
        {S::done, S::pending, S::failed, RetryStartStep::diarization},
    };
    for (const Case& c : cases) {
        const auto values = preparation().fromSession(
            metaWithSteps(c.transcription, c.diarization, c.summary), RetryFormValues::initial());
        EXPECT_EQ(values.startStep, c.expected)
            << rawValue(c.transcription) << "/" << rawValue(c.diarization);
    }
}

TEST_F(RetryPreparationTest, ValuesFromTheSessionConfiguration) {
    keychain_.save("sk-or", KeychainHelper::openRouterAPIKey);
    settings_.set("claudeCLIModel", "from-settings");
    SessionMetadata meta = metaWithSteps(StepStatus::done, StepStatus::done, StepStatus::done);
    SummaryConfig& s = meta.config.summary;
    s.provider = "copilot_cli";
    s.providerModel = "gpt-5";
    s.promptKey = "custom";
    s.resolvedPrompt = "My prompt";
    s.intermediatePromptKey = "worklog";
    meta.config.transcription.numberOfSpeakers = 4;
    meta.config.outputLanguage = "en";

    RetryFormValues current = RetryFormValues::initial();
    current.intermediatePromptPreset = "seminar"; // never written by the preparation
    const RetryFormValues v = preparation().fromSession(meta, current);
    EXPECT_EQ(v.provider, "copilot_cli");
    EXPECT_EQ(v.providerAPIKey, "sk-or");
    EXPECT_EQ(v.copilotCLIModel, "gpt-5");
    EXPECT_EQ(v.claudeCLIModel, "from-settings");
    EXPECT_EQ(v.providerModel, "gpt-5");
    EXPECT_EQ(v.numberOfSpeakers, 4);
    EXPECT_EQ(v.language, "en"); // absent in the file: the interface language
    EXPECT_EQ(v.summaryPromptMode, "custom");
    EXPECT_EQ(v.summaryPromptCustom, "My prompt");
    EXPECT_EQ(v.summaryPromptPreset, "minutes");
    EXPECT_EQ(v.intermediatePromptMode, "custom");
    EXPECT_EQ(v.intermediatePromptCustom, PromptCatalog::prompt("worklog"));
    EXPECT_EQ(v.intermediatePromptPreset, "seminar");

    s.promptKey = "not-a-preset";
    s.intermediatePromptKey.reset();
    const RetryFormValues preset = preparation().fromSession(meta, current);
    EXPECT_EQ(preset.summaryPromptMode, "preset");
    EXPECT_EQ(preset.summaryPromptPreset, "minutes");
    EXPECT_EQ(preset.intermediatePromptCustom, "");
}

TEST_F(RetryPreparationTest, ValuesFromTheSettingsWhenTheFileCannotBeRead) {
    settings_.set("summaryProvider", "ollama");
    settings_.set("ollamaModel", "  qwen3  ");
    settings_.set("nightlyBatch", "yes"); // not a boolean: off
    settings_.set("intermediatePromptPreset", "seminar");
    settings_.set("numberOfSpeakers", 3);
    SessionStatusSnapshot snapshot;
    snapshot.transcription.status = StepStatus::done;
    snapshot.diarization.status = StepStatus::failed;

    const RetryFormValues v = preparation().fromDefaults(snapshot, RetryFormValues::initial());
    EXPECT_EQ(v.provider, "ollama");
    EXPECT_EQ(v.providerModel, "qwen3");
    EXPECT_EQ(v.providerBaseURL, "http://localhost:11434");
    EXPECT_EQ(v.localModel, "qwen2.5-7b-instruct-mlx-4bit");
    EXPECT_EQ(v.whisperModel, "medium");
    EXPECT_EQ(v.numberOfSpeakers, 3);
    EXPECT_FALSE(v.nightlyBatch);
    EXPECT_EQ(v.intermediatePromptCustom, PromptCatalog::prompt("seminar"));
    EXPECT_EQ(v.startStep, RetryStartStep::diarization);
}

TEST_F(RetryPreparationTest, ProviderDefaults) {
    settings_.set("antigravityCLIArgs", "");
    settings_.set("claudeCLIModel", "   ");
    settings_.set("geminiBaseURL", " https://g.example ");
    const auto details = [&](SummaryProvider p) { return preparation().providerDetails(p); };
    EXPECT_EQ(details(SummaryProvider::llamaCppLocal), RetryPreparation::ProviderDetails{});
    EXPECT_EQ(details(SummaryProvider::openAI).baseURL, "https://api.openai.com");
    EXPECT_EQ(details(SummaryProvider::openAI).model, "gpt-4.1-mini");
    EXPECT_EQ(details(SummaryProvider::claudeCLI),
              (RetryPreparation::ProviderDetails{.command = "claude", .args = "--print"}));
    EXPECT_EQ(details(SummaryProvider::antigravityCLI).args, ""); // stored empty is kept
    EXPECT_EQ(details(SummaryProvider::geminiAPI).baseURL, "https://g.example");
    EXPECT_EQ(details(SummaryProvider::appleLocalLLM), RetryPreparation::ProviderDetails{});
}

RetryProviderSelectionState stateFor(std::string provider) {
    RetryFormValues values = RetryFormValues::initial();
    values.provider = std::move(provider);
    return RetryProviderSelectionState::assemble(values);
}

TEST_F(RetryPreparationTest, ConfigurationEditRecordsTheChoiceAndNothingElse) {
    SessionMetadata meta = metaWithSteps(StepStatus::done, StepStatus::done, StepStatus::failed);
    meta.summaryHeadline = "kept";
    meta.manuallyStopped = true;
    meta.config.summary.userNote = "note";
    meta.config.transcription.providerModel = "whisper-remote";
    meta.config.transcription.numberOfSpeakers = 5;

    auto state = stateFor("copilot_cli");
    state.cliModel = "   ";
    state.providerModel = "ignored for a tool";
    state.numberOfSpeakers = 0;
    state.localModelPath = " \n";
    state.promptMode = "custom";
    state.promptCustom = "  ";
    SessionMetadata edited = meta;
    RetryPreparation::applyRetrySelection(edited, preparation().selectionInput(state));
    const SummaryConfig& s = edited.config.summary;
    EXPECT_EQ(s.provider, "copilot_cli");
    EXPECT_EQ(s.providerModel, std::nullopt);
    EXPECT_EQ(s.providerBaseURL, std::nullopt);
    EXPECT_EQ(s.cliCommand, "copilot");
    EXPECT_EQ(s.localModelPath, std::nullopt);
    EXPECT_EQ(s.promptKey, "custom");
    EXPECT_EQ(s.resolvedPrompt, "");
    EXPECT_EQ(edited.config.transcription.numberOfSpeakers, std::nullopt);
    // Untouched.
    EXPECT_EQ(s.userNote, "note");
    EXPECT_EQ(edited.config.transcription.providerModel, "whisper-remote");
    EXPECT_EQ(edited.summaryHeadline, "kept");
    EXPECT_TRUE(edited.manuallyStopped);

    auto ollama = stateFor("ollama");
    ollama.providerModel = " ";
    ollama.promptPreset = "no-such";
    RetryPreparation::applyRetrySelection(edited, preparation().selectionInput(ollama));
    EXPECT_EQ(edited.config.summary.providerModel, "llama3.2");
    EXPECT_EQ(edited.config.summary.promptKey, "no-such");
    EXPECT_EQ(edited.config.summary.resolvedPrompt, PromptCatalog::prompt("minutes"));

    RetryPreparation::applyRetrySelection(edited, preparation().selectionInput(stateFor("bogus")));
    EXPECT_EQ(edited.config.summary.provider, "local");
}

TEST_F(RetryPreparationTest, StepResetFromTheStartStep) {
    using S = StepStatus;
    const StepState doneWithHistory{.status = S::done,
                                    .startedAt = std::chrono::sys_seconds{std::chrono::seconds{10}},
                                    .completedAt = std::chrono::sys_seconds{std::chrono::seconds{20}},
                                    .error = "old",
                                    .retryCount = 2};
    struct Case {
        RetryStartStep start;
        bool diarization;
        S transcriptionBefore, diarizationBefore;
        S transcription, diarizationAfter;
    };
    const Case cases[] = {
        {RetryStartStep::transcription, true, S::done, S::done, S::pending, S::pending},
        {RetryStartStep::diarization, true, S::done, S::done, S::done, S::pending},
        {RetryStartStep::diarization, true, S::failed, S::done, S::pending, S::pending},
        {RetryStartStep::summary, true, S::done, S::done, S::done, S::done},
        {RetryStartStep::summary, true, S::done, S::failed, S::done, S::pending},
        {RetryStartStep::summary, false, S::done, S::done, S::done, S::skipped},
    };
    for (const Case& c : cases) {
        SessionMetadata meta;
        meta.steps.transcription = doneWithHistory;
        meta.steps.transcription.status = c.transcriptionBefore;
        meta.steps.diarization.status = c.diarizationBefore;
        meta.steps.summary.status = S::failed;
        auto state = stateFor("local");
        state.startStep = c.start;
        state.diarizationEnabled = c.diarization;
        RetryPreparation::applyRetryStepState(meta, state);
        EXPECT_EQ(meta.steps.transcription.status, c.transcription) << rawValue(c.start);
        EXPECT_EQ(meta.steps.diarization.status, c.diarizationAfter) << rawValue(c.start);
        EXPECT_EQ(meta.steps.summary, StepState::fresh(S::pending));
        if (c.transcription == S::done)
            EXPECT_EQ(meta.steps.transcription, doneWithHistory); // times, error and count kept
        else
            EXPECT_EQ(meta.steps.transcription, StepState::fresh(S::pending));
    }
}

TEST(RetryProviderSelectionStateTest, CliModelComesFromTheChosenTool) {
    RetryFormValues v = RetryFormValues::initial();
    v.claudeCLIModel = "c";
    v.copilotCLIModel = "p";
    v.antigravityCLIModel = "a";
    const std::pair<const char*, const char*> cases[] = {
        {"claude_cli", "c"}, {"copilot_cli", "p"}, {"antigravity_cli", "a"}, {"openai", ""}, {"nope", ""}};
    for (const auto& [provider, expected] : cases) {
        v.provider = provider;
        EXPECT_EQ(RetryProviderSelectionState::assemble(v).cliModel, expected) << provider;
    }
}

} // namespace
} // namespace velnote
