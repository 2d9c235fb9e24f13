#include "ui/monitor/core/RetryTypes.h"

#include "platform/json/RawValue.h"
#include "session/config/SummaryProvider.h"
#include "session/l10n/L10n.h"

namespace velnote {

std::string_view rawValue(RetryStartStep step) {
    switch (step) {
    case RetryStartStep::transcription:
        return "transcription";
    case RetryStartStep::diarization:
        return "diarization";
    case RetryStartStep::summary:
        return "summary";
    }
    return "summary";
}

std::string label(RetryStartStep step) {
    switch (step) {
    case RetryStartStep::transcription:
        return L10n::localized("L10n.SessionMonitor.fromTranscription", "From Transcription");
    case RetryStartStep::diarization:
        return L10n::localized("L10n.SessionMonitor.fromDiarization", "From Diarization");
    case RetryStartStep::summary:
        return L10n::localized("L10n.SessionMonitor.fromSummary", "From Summary");
    }
    return {};
}

RetryFormValues RetryFormValues::initial() {
    RetryFormValues values;
    values.language = L10n::defaultLanguageCode();
    values.outputLanguage = L10n::defaultLanguageCode();
    return values;
}

RetryProviderSelectionState RetryProviderSelectionState::assemble(const RetryFormValues& v) {
    std::string cliModel;
    if (const auto provider = platform::fromRawValue<SummaryProvider>(v.provider)) {
        if (*provider == SummaryProvider::claudeCLI)
            cliModel = v.claudeCLIModel;
        else if (*provider == SummaryProvider::copilotCLI)
            cliModel = v.copilotCLIModel;
        else if (*provider == SummaryProvider::antigravityCLI)
            cliModel = v.antigravityCLIModel;
    }
    return RetryProviderSelectionState{
        .providerRawValue = v.provider,
        .localModel = v.localModel,
        .localModelPath = v.localModelPath,
        .cliModel = std::move(cliModel),
        .providerModel = v.providerModel,
        .providerBaseURL = v.providerBaseURL,
        .whisperModel = v.whisperModel,
        .diarizationEnabled = v.diarizationEnabled,
        .numberOfSpeakers = v.numberOfSpeakers,
        .language = v.language,
        .outputLanguage = v.outputLanguage,
        .startStep = v.startStep,
        .promptMode = v.summaryPromptMode,
        .promptPreset = v.summaryPromptPreset,
        .promptCustom = v.summaryPromptCustom,
        .intermediatePromptMode = v.intermediatePromptMode,
        .intermediatePromptPreset = v.intermediatePromptPreset,
        .intermediatePromptCustom = v.intermediatePromptCustom,
        .nightlyBatch = v.nightlyBatch,
        .preferDirectSummaryForLlamaCppLocal = v.preferDirectSummaryForLlamaCppLocal,
        .preferDirectSummaryForAppleLocalLLM = v.preferDirectSummaryForAppleLocalLLM,
        .providerAPIKey = v.providerAPIKey,
    };
}

namespace {
bool finished(const StepState& state) {
    return state.status == StepStatus::done || state.status == StepStatus::skipped;
}
} // namespace

bool isRetryStartStepAllowed(RetryStartStep step, const StepState& transcription,
                             const StepState& diarization) {
    switch (step) {
    case RetryStartStep::transcription:
        return true;
    case RetryStartStep::diarization:
        return finished(transcription);
    case RetryStartStep::summary:
        return finished(diarization);
    }
    return false;
}

RetryStartStep normalizeRetryStartStep(RetryStartStep step, const StepState& transcription,
                                       const StepState& diarization) {
    if (isRetryStartStepAllowed(step, transcription, diarization))
        return step;
    if (finished(diarization))
        return RetryStartStep::summary;
    if (finished(transcription))
        return RetryStartStep::diarization;
    return RetryStartStep::transcription;
}

} // namespace velnote
