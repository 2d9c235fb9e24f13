// SessionConfig::fromUserDefaults: the settings of the moment frozen into the
// configuration of a new recording. Kept apart from the JSON coding of
// SessionConfig.cpp because it pulls in the settings, the prompt catalogue and
// the recognition languages.

#include "platform/flavor/BuildFlavor.h"
#include "platform/json/RawValue.h"
#include "platform/text/Whitespace.h"
#include "session/config/OCRLanguageChoice.h"
#include "session/config/PromptCatalog.h"
#include "session/config/ProviderEndpoints.h"
#include "session/config/SessionConfig.h"
#include "session/config/SummaryProvider.h"
#include "session/settings/UserSettings.h"

namespace velnote {
namespace {

using Key = UserDefaultsKey;

struct SummaryProviderDetails {
    std::optional<std::string> model;
    std::optional<std::string> baseURL;
    std::optional<std::string> command;
    std::optional<std::string> args; // "{prompt}" stands for the prompt
};

struct PromptSettings {
    std::optional<std::string> key;
    std::string prompt;
};

constexpr const char* kCopilotCLIArgs =
    "--prompt {prompt} --allow-all-tools --output-format text --silent --no-custom-instructions";

// A switch read as an object: a stored bool, or a number that is exactly 0 or
// 1, gives its value; anything else, absent included, gives `absent`.
bool flag(const UserDefaults& defaults, Key key, bool absent) {
    const auto value = defaults.object(key);
    if (!value)
        return absent;
    if (const bool* stored = value->get<bool>())
        return *stored;
    if (const auto* number = value->get<std::int64_t>(); number && (*number == 0 || *number == 1))
        return *number == 1;
    if (const auto* number = value->get<double>(); number && (*number == 0.0 || *number == 1.0))
        return *number == 1.0;
    return absent;
}

// The stored value of a provider this build can run: "local" for no value, a
// blank or unknown value, and for the command-line tools in the store flavour
// (the sandbox cannot start them). Only the flavour value held by BuildFlavor
// decides, so an unset flavour keeps the tools.
std::string normalizedSummaryProvider(const std::optional<std::string>& stored) {
    if (!stored)
        return "local";
    std::string trimmed = platform::trimWhitespace(*stored);
    const auto provider = platform::fromRawValue<SummaryProvider>(trimmed);
    if (!provider)
        return "local";
    if (isCommandLineProvider(*provider) && BuildFlavor::overrideIsAppStore())
        return "local";
    return trimmed;
}

PromptSettings resolvePromptSettings(const std::string& mode, const std::string& preset,
                                     const std::optional<std::string>& custom) {
    if (mode == "custom" && custom)
        return {"custom", *custom};
    return {preset, PromptCatalog::prompt(preset)};
}

PromptSettings resolveSummaryPromptSettings(const UserSettings& settings) {
    return resolvePromptSettings(settings.summaryPromptMode(), settings.summaryPromptPreset(),
                                 settings.summaryPromptCustom());
}

PromptSettings resolveIntermediatePromptSettings(const UserSettings& settings) {
    return resolvePromptSettings(settings.intermediatePromptMode(), settings.intermediatePromptPreset(),
                                 settings.intermediatePromptCustom());
}

SummaryProviderDetails resolveSummaryProviderDetails(SummaryProvider provider, const UserSettings& settings) {
    const auto endpoint = [](std::string_view url) { return std::optional<std::string>(url); };
    switch (provider) {
    case SummaryProvider::llamaCppLocal:
    case SummaryProvider::appleLocalLLM:
        return {};
    case SummaryProvider::openAI:
        return {settings.openAIModel(), endpoint(ProviderEndpoints::openAI), std::nullopt, std::nullopt};
    case SummaryProvider::openRouter:
        return {settings.openRouterModel(), endpoint(ProviderEndpoints::openRouter), std::nullopt,
                std::nullopt};
    case SummaryProvider::githubCopilotAPI:
        return {settings.copilotModel(), endpoint(ProviderEndpoints::githubCopilot), std::nullopt,
                std::nullopt};
    case SummaryProvider::claudeAPI:
        return {settings.claudeModel(), endpoint(ProviderEndpoints::anthropic), std::nullopt, std::nullopt};
    case SummaryProvider::claudeCLI:
        return {settings.claudeCLIModel(), std::nullopt, "claude", "--print"};
    case SummaryProvider::copilotCLI:
        return {settings.copilotCLIModel(), std::nullopt, "copilot", kCopilotCLIArgs};
    case SummaryProvider::ollama:
        return {settings.ollamaModel(),
                settings.defaults()
                    .trimmedString(Key::ollamaBaseURL)
                    .value_or(std::string(ProviderEndpoints::ollama)),
                std::nullopt, std::nullopt};
    case SummaryProvider::antigravityCLI:
        return {settings.antigravityCLIModel(), std::nullopt, "agy", settings.antigravityCLIArgs()};
    case SummaryProvider::geminiAPI:
        return {settings.geminiModel(),
                settings.geminiBaseURL().value_or(std::string(ProviderEndpoints::gemini)), std::nullopt,
                std::nullopt};
    }
    return {};
}

SummaryProvider providerOf(const std::string& normalized) {
    return platform::fromRawValue<SummaryProvider>(normalized).value_or(SummaryProvider::llamaCppLocal);
}

// The details of the live-summary provider. Its own model settings win over
// the summary's: "liveSummaryOpenRouterModel" for OpenRouter and
// "liveSummaryProviderModel" (where the live-summary preferences keep the
// model of the command-line tools) for those tools.
SummaryProviderDetails resolveLiveSummaryProviderDetails(SummaryProvider provider,
                                                         const UserSettings& settings) {
    SummaryProviderDetails details = resolveSummaryProviderDetails(provider, settings);
    std::optional<std::string> liveModel;
    if (provider == SummaryProvider::openRouter)
        liveModel = settings.liveSummaryOpenRouterModel();
    else if (isCommandLineProvider(provider))
        liveModel = settings.liveSummaryProviderModel();
    if (liveModel)
        details.model = liveModel;
    return details;
}

TranscriptionConfig freezeTranscription(const UserSettings& settings) {
    const UserDefaults& defaults = settings.defaults();
    TranscriptionConfig transcription;
    transcription.whisperModel = settings.whisperModel();
    transcription.language = settings.inputLanguage();
    transcription.provider = defaults.string(Key::transcriptionProvider) == "openai"
                                 ? TranscriptionProvider::openAI
                                 : TranscriptionProvider::localWhisper;
    transcription.providerModel = settings.transcriptionProviderModel();
    // The preferences store an endpoint for the remote service; taken like the
    // model so that the setting reaches the recordings it is made for.
    transcription.providerBaseURL = defaults.trimmedString(Key::transcriptionProviderBaseURL);
    transcription.realtimeEnabled = flag(defaults, Key::realtimeEnabled, true);
    transcription.diarizationEnabled = defaults.boolean(Key::enableDiarization);
    transcription.numberOfSpeakers = settings.numberOfSpeakers();
    return transcription;
}

SummaryConfig freezeSummary(const UserSettings& settings) {
    const UserDefaults& defaults = settings.defaults();
    SummaryConfig summary;
    summary.provider = normalizedSummaryProvider(defaults.string(Key::summaryProvider));
    PromptSettings prompt = resolveSummaryPromptSettings(settings);
    summary.promptKey = std::move(prompt.key);
    summary.resolvedPrompt = std::move(prompt.prompt);
    PromptSettings intermediate = resolveIntermediatePromptSettings(settings);
    summary.intermediatePromptKey = std::move(intermediate.key);
    summary.intermediateResolvedPrompt = std::move(intermediate.prompt);
    summary.localModel = settings.localSummaryModel();
    summary.localModelPath = settings.localSummaryModelPath();
    SummaryProviderDetails details = resolveSummaryProviderDetails(providerOf(summary.provider), settings);
    summary.providerModel = std::move(details.model);
    summary.providerBaseURL = std::move(details.baseURL);
    summary.cliCommand = std::move(details.command);
    summary.cliArgs = std::move(details.args);
    summary.preferDirectSummaryForLlamaCppLocal =
        flag(defaults, Key::preferDirectSummaryForLlamaCppLocal, false);
    summary.preferDirectSummaryForAppleLocalLLM =
        flag(defaults, Key::preferDirectSummaryForAppleLocalLLM, false);
    summary.userNote = "";
    return summary;
}

LiveSummaryConfig freezeLiveSummary(const UserSettings& settings, const std::string& summaryProvider) {
    const UserDefaults& defaults = settings.defaults();
    LiveSummaryConfig live;
    live.enabled = flag(defaults, Key::liveSummaryEnabled, true);
    live.intervalMinutes = settings.liveSummaryIntervalMinutes();
    const auto storedProvider = defaults.string(Key::liveSummaryProvider);
    live.provider = storedProvider ? normalizedSummaryProvider(storedProvider) : summaryProvider;
    live.prompt = settings.liveSummaryPrompt().value_or(PromptCatalog::liveSummaryPrompt());
    live.modelPath = settings.liveSummaryModelPath();
    // The command and argument template of a command-line tool are the
    // summary's business; the live summary builds its own invocation.
    SummaryProviderDetails details = resolveLiveSummaryProviderDetails(providerOf(live.provider), settings);
    live.providerModel = std::move(details.model);
    live.providerBaseURL = std::move(details.baseURL);
    return live;
}

AudioConfig freezeAudio(const UserSettings& settings) {
    return {settings.micDeviceUID(), settings.micInputGain(), settings.sysInputGain()};
}

CaptureConfig freezeCapture(const UserSettings& settings,
                            const std::vector<std::string>& ocrSupportedLanguages) {
    const UserDefaults& defaults = settings.defaults();
    CaptureConfig capture;
    capture.screenshotEnabled = flag(defaults, Key::screenshotEnabled, true);
    capture.screenshotDisplayIndex = settings.screenshotDisplayIndex();
    capture.screenshotEmbedInSummaryEnabled = flag(defaults, Key::screenshotEmbedInSummaryEnabled, true);
    capture.screenshotEmbedMaxWidth = settings.screenshotEmbedMaxWidth();
    capture.foregroundActivityTrackingEnabled = flag(defaults, Key::foregroundActivityTrackingEnabled, true);
    capture.ocrRecognitionLanguages =
        OCRLanguageChoice::currentVisionOCRRecognitionLanguages(defaults.store(), ocrSupportedLanguages);
    return capture;
}

SystemConfig freezeSystem(const UserSettings& settings) {
    const UserDefaults& defaults = settings.defaults();
    if (defaults.object(Key::sessionNightlyBatchDefault))
        return {defaults.boolean(Key::sessionNightlyBatchDefault)};
    return {flag(defaults, Key::nightlyBatch, false)};
}

} // namespace

SessionConfig SessionConfig::fromUserDefaults(const std::vector<std::string>& ocrSupportedLanguages) {
    return fromUserDefaults(platform::SettingsStore::standard(), ocrSupportedLanguages);
}

SessionConfig SessionConfig::fromUserDefaults(platform::SettingsStore& defaults,
                                              const std::vector<std::string>& ocrSupportedLanguages) {
    const UserSettings settings(defaults);
    SessionConfig config;
    config.transcription = freezeTranscription(settings);
    config.outputLanguage = settings.outputLanguage();
    config.summary = freezeSummary(settings);
    config.liveSummary = freezeLiveSummary(settings, config.summary.provider);
    config.audio = freezeAudio(settings);
    config.capture = freezeCapture(settings, ocrSupportedLanguages);
    config.system = freezeSystem(settings);
    return config;
}

} // namespace velnote
