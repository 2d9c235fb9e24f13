#include "ui/preview/core/ResummarizeRequest.h"

#include "platform/json/RawValue.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionMetadataStore.h"

namespace velnote {
namespace {

std::optional<std::string> trimmedOrNone(const std::string& text) {
    std::string trimmed = platform::trimWhitespace(text);
    if (trimmed.empty())
        return std::nullopt;
    return trimmed;
}

// A command setting that is stored and not empty, else the tool's own name.
std::string commandSetting(const UserDefaults& defaults, UserDefaultsKey key, const char* fallback) {
    std::optional<std::string> stored = defaults.string(key);
    return stored && !stored->empty() ? *stored : std::string(fallback);
}

std::string cliModelPreset(const SummaryConfig& summary, SummaryProvider provider,
                           const UserDefaults& defaults, UserDefaultsKey setting) {
    if (summary.provider == rawValue(provider) && summary.providerModel)
        return *summary.providerModel;
    return defaults.string(setting).value_or("");
}

} // namespace

SummaryProvider ResummarizeRequest::kind(const ResummarizeSelections& selections) {
    return platform::fromRawValue<SummaryProvider>(selections.selectedProvider)
        .value_or(SummaryProvider::llamaCppLocal);
}

std::string ResummarizeRequest::cliModel(const ResummarizeSelections& selections, SummaryProvider kind) {
    switch (kind) {
    case SummaryProvider::claudeCLI:
        return selections.selectedClaudeCLIModel;
    case SummaryProvider::copilotCLI:
        return selections.selectedCopilotCLIModel;
    case SummaryProvider::antigravityCLI:
        return selections.selectedAntigravityCLIModel;
    default:
        return {};
    }
}

void ResummarizeRequest::apply(SessionMetadata& metadata, const ResummarizeSelections& selections,
                               SummaryProvider kind, const std::string& cliModel,
                               const UserDefaults& defaults) {
    SummaryConfig& summary = metadata.config.summary;
    summary.provider = selections.selectedProvider;
    switch (kind) {
    case SummaryProvider::claudeCLI:
        summary.providerModel = trimmedOrNone(cliModel);
        summary.cliCommand = commandSetting(defaults, UserDefaultsKey::claudeCLICommand, "claude");
        summary.cliArgs = "--print";
        break;
    case SummaryProvider::copilotCLI:
        summary.providerModel = trimmedOrNone(cliModel);
        summary.cliCommand = commandSetting(defaults, UserDefaultsKey::copilotCLICommand, "copilot");
        summary.cliArgs =
            "--prompt {prompt} --allow-all-tools --output-format text --silent --no-custom-instructions";
        break;
    case SummaryProvider::antigravityCLI:
        summary.providerModel = trimmedOrNone(cliModel);
        summary.cliCommand = commandSetting(defaults, UserDefaultsKey::antigravityCLICommand, "agy");
        summary.cliArgs = defaults.string(UserDefaultsKey::antigravityCLIArgs)
                              .value_or("-p {prompt} --dangerously-skip-permissions");
        break;
    default:
        summary.providerModel = trimmedOrNone(selections.selectedProviderModel);
        summary.providerBaseURL = trimmedOrNone(selections.selectedProviderBaseURL);
        break;
    }
    summary.userNote = platform::trimWhitespace(selections.userNote);
    metadata.steps.summary = StepState::fresh(StepStatus::pending);
    metadata.manuallyStopped = false;
}

void ResummarizeRequest::applyResummarizeMetadataUpdate(const std::filesystem::path& sessionDir,
                                                        const ResummarizeSelections& selections,
                                                        SummaryProvider kind, const std::string& cliModel,
                                                        const UserDefaults& defaults) {
    SessionMetadataStore::update(sessionDir, [&](SessionMetadata& metadata) {
        apply(metadata, selections, kind, cliModel, defaults);
    });
}

void ResummarizeRequest::loadProviderFromMeta(const std::filesystem::path& sessionDir,
                                              const UserDefaults& defaults,
                                              ResummarizeSelections& selections) {
    SessionMetadata metadata;
    try {
        metadata = SessionMetadataStore::read(sessionDir);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("loadProviderFromMeta: session.json 読み込み失敗: {}", e.what());
        selections.selectedProvider = defaults.string(UserDefaultsKey::summaryProvider).value_or("local");
        return;
    }
    const SummaryConfig& summary = metadata.config.summary;
    selections.selectedProvider = summary.provider;
    selections.selectedProviderModel = summary.providerModel.value_or("");
    selections.selectedProviderBaseURL = summary.providerBaseURL.value_or("");
    selections.selectedClaudeCLIModel =
        cliModelPreset(summary, SummaryProvider::claudeCLI, defaults, UserDefaultsKey::claudeCLIModel);
    selections.selectedCopilotCLIModel =
        cliModelPreset(summary, SummaryProvider::copilotCLI, defaults, UserDefaultsKey::copilotCLIModel);
    selections.selectedAntigravityCLIModel = cliModelPreset(summary, SummaryProvider::antigravityCLI,
                                                            defaults, UserDefaultsKey::antigravityCLIModel);
}

} // namespace velnote
