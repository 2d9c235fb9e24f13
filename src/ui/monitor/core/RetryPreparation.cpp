#include "ui/monitor/core/RetryPreparation.h"

#include "platform/json/RawValue.h"
#include "platform/text/Whitespace.h"
#include "session/config/PromptCatalog.h"
#include "session/config/ProviderEndpoints.h"
#include "session/l10n/L10n.h"

#include <algorithm>

namespace velnote {

namespace {

constexpr std::string_view kDefaultLocalModel = "qwen2.5-7b-instruct-mlx-4bit";
constexpr std::string_view kCopilotCLIArgs =
    "--prompt {prompt} --allow-all-tools --output-format text --silent --no-custom-instructions";
constexpr std::string_view kAntigravityCLIArgs = "-p {prompt} --dangerously-skip-permissions";

bool isPresetId(const std::string& id) {
    const auto options = PromptCatalog::options();
    return std::any_of(options.begin(), options.end(), [&](const PromptOption& o) { return o.id == id; });
}

std::optional<std::string> nonEmptyTrimmed(const std::string& text) {
    std::string trimmed = platform::trimWhitespace(text);
    if (trimmed.empty())
        return std::nullopt;
    return trimmed;
}

RetryStartStep startStepFor(const SessionSteps& steps) {
    RetryStartStep step = RetryStartStep::summary;
    if (steps.transcription.status == StepStatus::failed)
        step = RetryStartStep::transcription;
    else if (steps.diarization.status == StepStatus::failed)
        step = RetryStartStep::diarization;
    return normalizeRetryStartStep(step, steps.transcription, steps.diarization);
}

} // namespace

RetryPreparation::RetryPreparation() : RetryPreparation(Dependencies{}) {}

RetryPreparation::RetryPreparation(Dependencies dependencies)
    : settings_(dependencies.settings ? *dependencies.settings : platform::SettingsStore::standard()),
      keychain_(dependencies.keychain) {}

std::optional<std::string> RetryPreparation::text(std::string_view key) const {
    const auto value = settings_.object(key);
    if (!value)
        return std::nullopt;
    if (const auto* stored = value->get<std::string>())
        return *stored;
    return std::nullopt;
}

std::optional<std::string> RetryPreparation::trimmedText(std::string_view key) const {
    const auto stored = text(key);
    return stored ? nonEmptyTrimmed(*stored) : std::nullopt;
}

std::string RetryPreparation::textOr(std::string_view key, std::string_view fallback) const {
    return text(key).value_or(std::string(fallback));
}

RetryFormValues RetryPreparation::fromSession(const SessionMetadata& meta,
                                              const RetryFormValues& current) const {
    const SessionConfig& config = meta.config;
    const SummaryConfig& summary = config.summary;
    const std::string storedModel = summary.providerModel.value_or("");
    const auto cliModel = [&](std::string_view provider, std::string_view settingKey) {
        return summary.provider == provider ? storedModel : textOr(settingKey, "");
    };

    RetryFormValues v = current;
    v.provider = summary.provider;
    v.providerAPIKey = keychain_ ? keychain_->load(KeychainHelper::openRouterAPIKey)
                                 : KeychainHelper().load(KeychainHelper::openRouterAPIKey);
    v.localModel = summary.localModel;
    v.localModelPath = summary.localModelPath.value_or("");
    v.claudeCLIModel = cliModel("claude_cli", "claudeCLIModel");
    v.copilotCLIModel = cliModel("copilot_cli", "copilotCLIModel");
    v.antigravityCLIModel = cliModel("antigravity_cli", "antigravityCLIModel");
    v.providerModel = storedModel;
    v.providerBaseURL = summary.providerBaseURL.value_or("");
    v.whisperModel = config.transcription.whisperModel;
    v.preferDirectSummaryForLlamaCppLocal = summary.preferDirectSummaryForLlamaCppLocal;
    v.preferDirectSummaryForAppleLocalLLM = summary.preferDirectSummaryForAppleLocalLLM;
    v.diarizationEnabled = config.transcription.diarizationEnabled;
    v.numberOfSpeakers = config.transcription.numberOfSpeakers.value_or(0);
    v.language = config.transcription.language.value_or(L10n::defaultLanguageCode());
    v.outputLanguage = config.outputLanguage;
    v.nightlyBatch = config.system.nightlyBatch;
    v.startStep = startStepFor(meta.steps);

    if (summary.promptKey == "custom") {
        v.summaryPromptMode = "custom";
        v.summaryPromptCustom = summary.resolvedPrompt;
        v.summaryPromptPreset = "minutes";
    } else {
        v.summaryPromptMode = "preset";
        v.summaryPromptPreset =
            summary.promptKey && isPresetId(*summary.promptKey) ? *summary.promptKey : "minutes";
        v.summaryPromptCustom.clear();
    }

    // The dialog shows the intermediate prompt that was used, as editable text.
    v.intermediatePromptMode = "custom";
    const std::string intermediateKey = summary.intermediatePromptKey.value_or("");
    if (intermediateKey == "custom")
        v.intermediatePromptCustom = summary.intermediateResolvedPrompt;
    else if (!intermediateKey.empty())
        v.intermediatePromptCustom = PromptCatalog::prompt(intermediateKey);
    else
        v.intermediatePromptCustom.clear();
    return v;
}

RetryFormValues RetryPreparation::fromDefaults(const SessionStatusSnapshot& snapshot,
                                               const RetryFormValues& current) const {
    RetryFormValues v = current;
    v.provider = textOr("summaryProvider", "local");
    v.providerAPIKey = keychain_ ? keychain_->load(KeychainHelper::openRouterAPIKey)
                                 : KeychainHelper().load(KeychainHelper::openRouterAPIKey);
    v.localModel = textOr("localSummaryModel", kDefaultLocalModel);
    v.localModelPath = textOr("localSummaryModelPath", "");
    v.claudeCLIModel = textOr("claudeCLIModel", "");
    v.copilotCLIModel = textOr("copilotCLIModel", "");
    v.antigravityCLIModel = textOr("antigravityCLIModel", "");
    const SummaryProvider provider =
        platform::fromRawValue<SummaryProvider>(v.provider).value_or(SummaryProvider::llamaCppLocal);
    const ProviderDetails details = providerDetails(provider);
    v.providerModel = details.model.value_or("");
    v.providerBaseURL = details.baseURL.value_or("");
    v.whisperModel = textOr("whisperModel", "medium");
    v.preferDirectSummaryForLlamaCppLocal = settings_.boolean("preferDirectSummaryForLlamaCppLocal");
    v.preferDirectSummaryForAppleLocalLLM = settings_.boolean("preferDirectSummaryForAppleLocalLLM");
    v.diarizationEnabled = settings_.boolean("enableDiarization");
    v.numberOfSpeakers = settings_.integer("numberOfSpeakers");
    v.language = textOr("inputLanguage", L10n::defaultLanguageCode());
    v.outputLanguage = textOr("outputLanguage", L10n::defaultLanguageCode());
    v.summaryPromptMode = textOr("summaryPromptMode", "preset");
    v.summaryPromptPreset = textOr("summaryPromptPreset", "minutes");
    v.summaryPromptCustom = textOr("summaryPromptCustom", "");

    v.intermediatePromptMode = "custom";
    const std::string mode = textOr("intermediatePromptMode", "preset");
    const std::string preset = textOr("intermediatePromptPreset", "minutes");
    const std::string custom = textOr("intermediatePromptCustom", "");
    v.intermediatePromptCustom = mode == "custom" || !custom.empty() ? custom : PromptCatalog::prompt(preset);

    const auto nightly = settings_.object("nightlyBatch");
    const bool* nightlyFlag = nightly ? nightly->get<bool>() : nullptr;
    v.nightlyBatch = nightlyFlag != nullptr && *nightlyFlag;
    v.startStep =
        normalizeRetryStartStep(RetryStartStep::summary, snapshot.transcription, snapshot.diarization);
    return v;
}

RetryPreparation::ProviderDetails RetryPreparation::providerDetails(SummaryProvider provider) const {
    const auto modelOr = [&](std::string_view key, std::string_view fallback) {
        return trimmedText(key).value_or(std::string(fallback));
    };
    switch (provider) {
    case SummaryProvider::llamaCppLocal:
        return {.model = text("localSummaryModel")};
    case SummaryProvider::openAI:
        return {.model = modelOr("openAIModel", "gpt-4.1-mini"),
                .baseURL = std::string(ProviderEndpoints::openAI)};
    case SummaryProvider::openRouter:
        return {.model = modelOr("openRouterModel", "nvidia/nemotron-3-nano-omni-30b-a3b-reasoning:free"),
                .baseURL = std::string(ProviderEndpoints::openRouter)};
    case SummaryProvider::githubCopilotAPI:
        return {.model = modelOr("copilotModel", "gpt-4o-mini"),
                .baseURL = std::string(ProviderEndpoints::githubCopilot)};
    case SummaryProvider::claudeAPI:
        return {.model = modelOr("claudeModel", "claude-3-5-sonnet-latest"),
                .baseURL = std::string(ProviderEndpoints::anthropic)};
    case SummaryProvider::appleLocalLLM:
        return {};
    case SummaryProvider::claudeCLI:
        return {.model = trimmedText("claudeCLIModel"), .command = "claude", .args = "--print"};
    case SummaryProvider::copilotCLI:
        return {.model = trimmedText("copilotCLIModel"),
                .command = "copilot",
                .args = std::string(kCopilotCLIArgs)};
    case SummaryProvider::ollama:
        return {.model = modelOr("ollamaModel", "llama3.2"),
                .baseURL = modelOr("ollamaBaseURL", ProviderEndpoints::ollama)};
    case SummaryProvider::antigravityCLI:
        return {.model = trimmedText("antigravityCLIModel"),
                .command = "agy",
                .args = textOr("antigravityCLIArgs", kAntigravityCLIArgs)};
    case SummaryProvider::geminiAPI:
        return {.model = modelOr("geminiModel", "gemini-1.5-flash"),
                .baseURL = modelOr("geminiBaseURL", ProviderEndpoints::gemini)};
    }
    return {};
}

RetryPreparation::PromptResult RetryPreparation::resolvedPrompt(const RetryProviderSelectionState& state) {
    if (state.promptMode == "custom")
        return {.key = "custom", .prompt = platform::trimWhitespace(state.promptCustom)};
    return {.key = state.promptPreset, .prompt = PromptCatalog::prompt(state.promptPreset)};
}

RetryPreparation::PromptResult
RetryPreparation::resolvedIntermediatePrompt(const RetryProviderSelectionState& state) {
    if (state.intermediatePromptMode == "custom")
        return {.key = "custom", .prompt = platform::trimWhitespace(state.intermediatePromptCustom)};
    return {.key = state.intermediatePromptPreset,
            .prompt = PromptCatalog::prompt(state.intermediatePromptPreset)};
}

RetryPreparation::RetrySelectionInput
RetryPreparation::selectionInput(const RetryProviderSelectionState& state) const {
    const SummaryProvider provider = platform::fromRawValue<SummaryProvider>(state.providerRawValue)
                                         .value_or(SummaryProvider::llamaCppLocal);
    return RetrySelectionInput{
        .state = state,
        .provider = provider,
        .details = providerDetails(provider),
        .promptResult = resolvedPrompt(state),
        .intermediateResult = resolvedIntermediatePrompt(state),
    };
}

void RetryPreparation::applyRetrySelection(SessionMetadata& meta, const RetrySelectionInput& input) {
    const RetryProviderSelectionState& state = input.state;
    SummaryConfig& summary = meta.config.summary;
    summary.provider = std::string(rawValue(input.provider));
    if (isCommandLineProvider(input.provider)) {
        summary.providerModel = nonEmptyTrimmed(state.cliModel);
        summary.providerBaseURL = std::nullopt;
    } else {
        const auto model = nonEmptyTrimmed(state.providerModel);
        summary.providerModel = model ? model : input.details.model;
        const auto baseURL = nonEmptyTrimmed(state.providerBaseURL);
        summary.providerBaseURL = baseURL ? baseURL : input.details.baseURL;
    }
    summary.cliCommand = input.details.command;
    summary.cliArgs = input.details.args;
    summary.localModel = state.localModel;
    summary.localModelPath = platform::isBlank(state.localModelPath)
                                 ? std::nullopt
                                 : std::optional<std::string>(state.localModelPath);
    summary.preferDirectSummaryForLlamaCppLocal = state.preferDirectSummaryForLlamaCppLocal;
    summary.preferDirectSummaryForAppleLocalLLM = state.preferDirectSummaryForAppleLocalLLM;
    summary.promptKey = input.promptResult.key;
    summary.resolvedPrompt = input.promptResult.prompt;
    summary.intermediatePromptKey = input.intermediateResult.key;
    summary.intermediateResolvedPrompt = input.intermediateResult.prompt;

    TranscriptionConfig& transcription = meta.config.transcription;
    transcription.whisperModel = state.whisperModel;
    transcription.diarizationEnabled = state.diarizationEnabled;
    transcription.numberOfSpeakers =
        state.numberOfSpeakers == 0 ? std::nullopt : std::optional<std::int64_t>(state.numberOfSpeakers);
    transcription.language = state.language;
    meta.config.outputLanguage = state.outputLanguage;
    meta.config.system.nightlyBatch = state.nightlyBatch;
    applyRetryStepState(meta, state);
}

void RetryPreparation::applyRetryStepState(SessionMetadata& meta, const RetryProviderSelectionState& state) {
    const auto pending = StepState::fresh(StepStatus::pending);
    const auto keepDone = [&](StepState& step) {
        if (step.status != StepStatus::done)
            step = pending;
    };
    SessionSteps& steps = meta.steps;
    switch (state.startStep) {
    case RetryStartStep::transcription:
        steps.transcription = pending;
        steps.diarization = pending;
        break;
    case RetryStartStep::diarization:
        keepDone(steps.transcription);
        steps.diarization = pending;
        break;
    case RetryStartStep::summary:
        keepDone(steps.transcription);
        if (state.diarizationEnabled)
            keepDone(steps.diarization);
        else
            steps.diarization = StepState::fresh(StepStatus::skipped);
        break;
    }
    steps.summary = pending;
}

} // namespace velnote
