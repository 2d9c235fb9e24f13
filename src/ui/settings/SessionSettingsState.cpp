#include "ui/settings/SessionSettingsState.h"

#include "platform/json/RawValue.h"
#include "platform/text/Whitespace.h"
#include "session/config/ProviderEndpoints.h"
#include "session/l10n/L10n.h"
#include "session/settings/SessionConfigBacking.h"
#include "session/settings/UserDefaults.h"

namespace velnote {
namespace {

using S = ProviderSetting;
using Key = UserDefaultsKey;

SummaryProvider providerOrLocal(const std::string& value) {
    return platform::fromRawValue<SummaryProvider>(value).value_or(SummaryProvider::llamaCppLocal);
}

std::optional<std::string> noneWhenEmpty(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

} // namespace

SessionSettingsState::SessionSettingsState(SessionSettingsEnvironment environment)
    : outputLanguage(observers_, L10n::isJapanese() ? "ja" : "en"),
      liveSummaryPrompt(observers_, PromptCatalog::liveSummaryPrompt()),
      environment_(std::move(environment)) {
    installRules();
}

void SessionSettingsState::edit(const std::function<void(SessionConfig&)>& change) const {
    if (environment_.mutateActiveSessionConfig) {
        environment_.mutateActiveSessionConfig(change); // false: no recording; nothing to write
    }
}

void SessionSettingsState::installRules() {
    const bool* active = &rulesActive_;
    transcriptionProvider.setRule(active, [this](const std::string& value) {
        const auto provider =
            value == "openai" ? TranscriptionProvider::openAI : TranscriptionProvider::localWhisper;
        edit([provider](SessionConfig& c) { c.transcription.provider = provider; });
    });
    whisperModel.setRule(active, [this](const std::string& value) {
        edit([value](SessionConfig& c) { c.transcription.whisperModel = value; });
    });
    transcriptionProviderModel.setRule(active, [this](const std::string& value) {
        edit([value](SessionConfig& c) { c.transcription.providerModel = noneWhenEmpty(value); });
    });
    inputLanguage.setRule(active, [this](const std::string& value) {
        const auto language = value == "auto" ? std::nullopt : std::optional<std::string>(value);
        edit([language](SessionConfig& c) { c.transcription.language = language; });
        if (environment_.updateInputLanguage) {
            environment_.updateInputLanguage(language);
        }
    });
    outputLanguage.setRule(active, [this](const std::string& value) {
        edit([value](SessionConfig& c) { c.outputLanguage = value; });
        if (environment_.updateLiveSummaryOutputLanguage) {
            environment_.updateLiveSummaryOutputLanguage(value);
        }
    });
    diarizationEnabled.setRule(active, [this](const bool& value) {
        edit([value](SessionConfig& c) { c.transcription.diarizationEnabled = value; });
    });
    numberOfSpeakers.setRule(active, [this](const std::int64_t& value) {
        const auto count = value == 0 ? std::nullopt : std::optional<std::int64_t>(value);
        edit([count](SessionConfig& c) { c.transcription.numberOfSpeakers = count; });
    });
    nightlyBatch.setRule(active, [this](const bool& value) {
        edit([value](SessionConfig& c) { c.system.nightlyBatch = value; });
    });
    screenshotEnabled.setRule(active, [this](const bool& value) {
        edit([value](SessionConfig& c) { c.capture.screenshotEnabled = value; });
        if (environment_.updateScreenshotEnabled) {
            environment_.updateScreenshotEnabled(value);
        }
    });
    foregroundActivityTrackingEnabled.setRule(active, [this](const bool& value) {
        edit([value](SessionConfig& c) { c.capture.foregroundActivityTrackingEnabled = value; });
        if (environment_.updateForegroundActivityTracking) {
            environment_.updateForegroundActivityTracking(value);
        }
    });
    screenshotDisplayIndex.setRule(active, [this](const std::int64_t& value) {
        edit([value](SessionConfig& c) { c.capture.screenshotDisplayIndex = value; });
        if (environment_.changeScreenshotDisplay) {
            environment_.changeScreenshotDisplay(value);
        }
    });
    screenshotEmbedInSummaryEnabled.setRule(active, [this](const bool& value) {
        edit([value](SessionConfig& c) { c.capture.screenshotEmbedInSummaryEnabled = value; });
    });
    screenshotEmbedMaxWidth.setRule(active, [this](const std::int64_t& value) {
        edit([value](SessionConfig& c) { c.capture.screenshotEmbedMaxWidth = value; });
    });
    summaryProvider.setRule(active, [this](const std::string& value) { changeSummaryProvider(value); });
    liveSummaryProvider.setRule(active,
                                [this](const std::string& value) { changeLiveSummaryProvider(value); });
    summaryPromptMode.setRule(active, [this](const std::string& value) {
        edit(applyPrompt(value, summaryPromptPreset.get(), summaryPromptCustom.get()));
    });
    summaryPromptPreset.setRule(active, [this](const std::string& value) {
        edit(applyPrompt(summaryPromptMode.get(), value, summaryPromptCustom.get()));
    });
    summaryPromptCustom.setRule(active, [this](const std::string& value) {
        edit(applyPrompt(summaryPromptMode.get(), summaryPromptPreset.get(), value));
    });
    intermediatePromptCustom.setRule(active,
                                     [this](const std::string& value) { applyIntermediatePrompt(value); });
    liveSummaryPrompt.setRule(active, [this](const std::string& value) {
        edit([value](SessionConfig& c) { c.liveSummary.prompt = value; });
        syncLiveSummaryActor();
    });
}

void SessionSettingsState::appear() {
    availableDisplays_ =
        environment_.enumerateDisplays ? environment_.enumerateDisplays() : std::vector<AvailableDisplay>{};
    loadFromActiveConfig();
}

void SessionSettingsState::loadFromActiveConfig() {
    const std::optional<SessionConfig> active =
        environment_.activeConfig ? environment_.activeConfig() : std::optional<SessionConfig>{};
    if (!active) {
        return;
    }
    const SessionConfig& c = *active;
    // Showing the running configuration is no edit of it: were the rules to run here, opening the
    // window would, for one, reset the session's provider model from the global settings.
    const bool rulesWereActive = rulesActive_;
    rulesActive_ = false;
    summaryModel_ = buildProviderModel(c, false);
    liveModel_ = buildProviderModel(c, true);

    // The session's own back-end: showing "Local Whisper" for a recording that goes to the remote
    // service would misstate what it runs with.
    transcriptionProvider.set(std::string(rawValue(c.transcription.provider)));
    transcriptionProviderModel.set(c.transcription.providerModel.value_or(""));
    whisperModel.set(c.transcription.whisperModel);
    inputLanguage.set(c.transcription.language.value_or("auto"));
    outputLanguage.set(c.outputLanguage);
    diarizationEnabled.set(c.transcription.diarizationEnabled);
    numberOfSpeakers.set(c.transcription.numberOfSpeakers.value_or(0));
    summaryProvider.set(c.summary.provider);
    liveSummaryProvider.set(c.liveSummary.provider);
    liveSummaryPrompt.set(platform::trimWhitespace(c.liveSummary.prompt).empty()
                              ? PromptCatalog::liveSummaryPrompt()
                              : c.liveSummary.prompt);
    screenshotEnabled.set(c.capture.screenshotEnabled);
    foregroundActivityTrackingEnabled.set(c.capture.foregroundActivityTrackingEnabled);
    screenshotDisplayIndex.set(c.capture.screenshotDisplayIndex);
    screenshotEmbedInSummaryEnabled.set(c.capture.screenshotEmbedInSummaryEnabled);
    screenshotEmbedMaxWidth.set(c.capture.screenshotEmbedMaxWidth);
    nightlyBatch.set(c.system.nightlyBatch);

    const std::optional<std::string>& key = c.summary.promptKey;
    if (!key || key->empty()) {
        summaryPromptMode.set("preset");
        summaryPromptPreset.set("minutes");
    } else if (*key == "custom") {
        summaryPromptMode.set("custom");
        summaryPromptCustom.set(c.summary.resolvedPrompt);
    } else {
        summaryPromptMode.set("preset");
        summaryPromptPreset.set(*key);
    }

    const std::optional<std::string> intermediateKey =
        c.summary.intermediatePromptKey ? c.summary.intermediatePromptKey : key;
    if (!intermediateKey || intermediateKey->empty()) {
        intermediatePromptCustom.set("");
    } else if (*intermediateKey == "custom") {
        intermediatePromptCustom.set(c.summary.intermediateResolvedPrompt.empty()
                                         ? c.summary.resolvedPrompt
                                         : c.summary.intermediateResolvedPrompt);
    } else {
        intermediatePromptCustom.set(PromptCatalog::prompt(*intermediateKey));
    }
    rulesActive_ = rulesWereActive;
    observers_.notify();
}

std::shared_ptr<ProviderSettingsViewModel>
SessionSettingsState::buildProviderModel(const SessionConfig& config, bool isLiveSummary) {
    auto write = [mutate = environment_.mutateActiveSessionConfig](const SessionConfigBacking::Edit& change) {
        if (mutate) {
            mutate(change);
        }
    };
    auto backing = std::make_shared<SessionConfigBacking>(config, isLiveSummary, std::move(write),
                                                          *environment_.defaults, environment_.keychain);
    auto model = std::make_shared<ProviderSettingsViewModel>(std::move(backing));
    const SummaryProvider provider =
        providerOrLocal(isLiveSummary ? config.liveSummary.provider : config.summary.provider);
    model->setAutoSaveAction([weak = std::weak_ptr<ProviderSettingsViewModel>(model), provider] {
        if (auto self = weak.lock()) {
            self->save(provider);
        }
    });
    return model;
}

std::int64_t SessionSettingsState::remoteChunkConcurrency() const {
    const auto stored = environment_.defaults->object(rawValue(Key::remoteChunkConcurrency));
    return stored ? environment_.defaults->integer(rawValue(Key::remoteChunkConcurrency)) : 4;
}

void SessionSettingsState::setRemoteChunkConcurrency(std::int64_t value) {
    environment_.defaults->set(rawValue(Key::remoteChunkConcurrency), value);
    observers_.notify();
}

ProviderDetails SessionSettingsState::resolveProviderDetails(SummaryProvider provider) const {
    const UserDefaults defaults(*environment_.defaults);
    const auto read = [&](Key key) { return defaults.string(key); };
    switch (provider) {
    case SummaryProvider::openAI:
        return {
            .model = read(Key::openAIModel), .baseURL = read(Key::openAIBaseURL), .command = {}, .args = {}};
    case SummaryProvider::openRouter:
        return {.model = read(Key::openRouterModel),
                .baseURL = std::string(ProviderEndpoints::openRouter),
                .command = {},
                .args = {}};
    case SummaryProvider::githubCopilotAPI:
        return {.model = read(Key::copilotModel),
                .baseURL = read(Key::copilotBaseURL),
                .command = {},
                .args = {}};
    case SummaryProvider::claudeAPI:
        return {
            .model = read(Key::claudeModel), .baseURL = read(Key::claudeBaseURL), .command = {}, .args = {}};
    case SummaryProvider::claudeCLI:
        return {.model = read(Key::claudeCLIModel),
                .baseURL = {},
                .command = read(Key::claudeCLICommand),
                .args = "--print"};
    case SummaryProvider::copilotCLI:
        return {
            .model = read(Key::copilotCLIModel),
            .baseURL = {},
            .command = read(Key::copilotCLICommand),
            .args =
                "--prompt {prompt} --allow-all-tools --output-format text --silent --no-custom-instructions"};
    case SummaryProvider::antigravityCLI:
        return {.model = read(Key::antigravityCLIModel),
                .baseURL = {},
                .command = read(Key::antigravityCLICommand),
                .args = read(Key::antigravityCLIArgs).value_or("-p {prompt} --dangerously-skip-permissions")};
    default:
        return {};
    }
}

void SessionSettingsState::changeSummaryProvider(const std::string& value) {
    const SummaryProvider provider = providerOrLocal(value);
    const ProviderDetails d = resolveProviderDetails(provider);
    edit([value, d](SessionConfig& c) {
        c.summary.provider = value;
        c.summary.providerModel = d.model;
        c.summary.providerBaseURL = d.baseURL;
        c.summary.cliCommand = d.command;
        c.summary.cliArgs = d.args;
    });
    if (summaryModel_) {
        if (const auto config = environment_.activeConfig ? environment_.activeConfig() : std::nullopt) {
            summaryModel_ = buildProviderModel(*config, false);
        }
    }
}

void SessionSettingsState::changeLiveSummaryProvider(const std::string& value) {
    const ProviderDetails d = resolveProviderDetails(providerOrLocal(value));
    edit([value, d](SessionConfig& c) {
        c.liveSummary.provider = value;
        c.liveSummary.providerModel = d.model;
        c.liveSummary.providerBaseURL = d.baseURL;
    });
    if (liveModel_) {
        if (const auto config = environment_.activeConfig ? environment_.activeConfig() : std::nullopt) {
            liveModel_ = buildProviderModel(*config, true);
        }
    }
}

std::function<void(SessionConfig&)> SessionSettingsState::applyPrompt(const std::string& mode,
                                                                      const std::string& preset,
                                                                      const std::string& custom) {
    if (mode == "custom") {
        return [custom](SessionConfig& c) {
            c.summary.promptKey = "custom";
            c.summary.resolvedPrompt = custom;
        };
    }
    return [preset, prompt = PromptCatalog::prompt(preset)](SessionConfig& c) {
        c.summary.promptKey = preset;
        c.summary.resolvedPrompt = prompt;
    };
}

void SessionSettingsState::applyIntermediatePrompt(const std::string& custom) {
    edit([custom](SessionConfig& c) {
        c.summary.intermediatePromptKey = "custom";
        c.summary.intermediateResolvedPrompt = custom;
    });
}

void SessionSettingsState::resetIntermediatePrompt() {
    const std::string prompt = PromptCatalog::intermediateNotePrompt();
    intermediatePromptCustom.set(prompt);
    applyIntermediatePrompt(prompt);
}

void SessionSettingsState::syncLiveSummaryActor() {
    const SummaryProvider provider = providerOrLocal(liveSummaryProvider.get());
    std::string model;
    std::string baseURL;
    if (liveModel_) {
        const ProviderSettingsViewModel& m = *liveModel_;
        switch (provider) {
        case SummaryProvider::openAI:
            model = m.text(S::openAIModel);
            baseURL = m.text(S::openAIBaseURL);
            break;
        case SummaryProvider::openRouter:
            model = m.text(S::openRouterModel);
            baseURL = std::string(ProviderEndpoints::openRouter);
            break;
        case SummaryProvider::githubCopilotAPI:
            model = m.text(S::copilotModel);
            baseURL = m.text(S::copilotBaseURL);
            break;
        case SummaryProvider::claudeAPI:
            model = m.text(S::claudeModel);
            baseURL = m.text(S::claudeBaseURL);
            break;
        case SummaryProvider::claudeCLI:
            model = m.text(S::claudeCLIModel);
            break;
        case SummaryProvider::copilotCLI:
            model = m.text(S::copilotCLIModel);
            break;
        case SummaryProvider::antigravityCLI:
            model = m.text(S::antigravityCLIModel);
            break;
        case SummaryProvider::geminiAPI:
            model = m.text(S::geminiModel);
            baseURL = m.text(S::geminiBaseURL);
            break;
        case SummaryProvider::llamaCppLocal:
        case SummaryProvider::ollama:
            model = m.text(S::ollamaModel);
            break;
        case SummaryProvider::appleLocalLLM:
            break;
        }
    }
    const std::string prompt = liveSummaryPrompt.get();
    LiveSummaryProviderUpdate update{
        .provider = provider,
        .prompt = platform::trimWhitespace(prompt).empty() ? PromptCatalog::liveSummaryPrompt() : prompt,
        .providerModel = noneWhenEmpty(platform::trimWhitespace(model)),
        .providerBaseURL = noneWhenEmpty(platform::trimWhitespace(baseURL))};
    if (environment_.updateLiveSummaryProvider) {
        environment_.updateLiveSummaryProvider(update);
    }
}

} // namespace velnote
