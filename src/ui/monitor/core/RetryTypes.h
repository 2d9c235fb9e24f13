#pragma once

#include "session/folder/SessionStatusSnapshot.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velnote {

// The first step a retry runs again.
enum class RetryStartStep { transcription, diarization, summary };

inline constexpr std::array<RetryStartStep, 3> kAllRetryStartSteps = {
    RetryStartStep::transcription, RetryStartStep::diarization, RetryStartStep::summary};

constexpr const auto& allCases(RetryStartStep) {
    return kAllRetryStartSteps;
}
std::string_view rawValue(RetryStartStep step);
// "From Transcription", "From Diarization", "From Summary" (localized).
std::string label(RetryStartStep step);

// The values the retry dialog edits; the monitor fills them before each dialog and the dialog
// works on its own copy. Defaults are those of a monitor that has prepared no retry yet.
struct RetryFormValues {
    std::string provider = "local"; // SummaryProvider raw value, possibly naming none
    std::string providerAPIKey;     // the OpenRouter key (shown only for OpenRouter)
    std::string localModel = "qwen2.5-7b-instruct-mlx-4bit";
    std::string localModelPath; // GGUF file of the local provider; empty for none
    std::string claudeCLIModel; // empty: the tool's default
    std::string copilotCLIModel;
    std::string antigravityCLIModel;
    std::string providerModel;   // model of the HTTP providers
    std::string providerBaseURL; // the Ollama server, and the base URL of the list fetches
    std::string whisperModel = "medium";
    bool diarizationEnabled = false;
    std::int64_t numberOfSpeakers = 0; // 0 = automatic
    std::string language;              // input language code or "auto"
    std::string outputLanguage;
    RetryStartStep startStep = RetryStartStep::summary;
    std::string summaryPromptMode = "preset"; // "preset" or "custom"
    std::string summaryPromptPreset = "minutes";
    std::string summaryPromptCustom;
    std::string intermediatePromptMode = "preset";
    std::string intermediatePromptPreset = "minutes";
    std::string intermediatePromptCustom; // empty: the built-in note rules
    bool nightlyBatch = false;
    bool preferDirectSummaryForLlamaCppLocal = false;
    bool preferDirectSummaryForAppleLocalLLM = false;

    // The defaults above with both languages the interface's ("ja" or "en").
    static RetryFormValues initial();

    bool operator==(const RetryFormValues&) const = default;
};

// What one retry dialog starts from.
struct RetryWindowInput {
    SessionStatusSnapshot snapshot; // only its transcription and diarization states are read
    RetryFormValues values;
};

// What "Retry" hands back: the dialog's values as they stand, unchecked and untrimmed.
struct RetryProviderSelectionState {
    std::string providerRawValue;
    std::string localModel;
    std::string localModelPath;
    std::string cliModel; // the model field of the command-line tool chosen; empty for other providers
    std::string providerModel;
    std::string providerBaseURL;
    std::string whisperModel;
    bool diarizationEnabled = false;
    std::int64_t numberOfSpeakers = 0;
    std::string language;
    std::string outputLanguage;
    RetryStartStep startStep = RetryStartStep::summary;
    std::string promptMode;
    std::string promptPreset;
    std::string promptCustom;
    std::string intermediatePromptMode;
    std::string intermediatePromptPreset;
    std::string intermediatePromptCustom;
    bool nightlyBatch = false;
    bool preferDirectSummaryForLlamaCppLocal = false;
    bool preferDirectSummaryForAppleLocalLLM = false;
    std::string providerAPIKey;

    // Field by field from the dialog's values; `cliModel` by the provider the values name.
    static RetryProviderSelectionState assemble(const RetryFormValues& values);

    bool operator==(const RetryProviderSelectionState&) const = default;
};

// Whether a retry may start at `step`, judged by the steps before it: diarization needs the
// transcription finished (done or skipped), summary needs the diarization finished (the
// transcription is not looked at).
bool isRetryStartStepAllowed(RetryStartStep step, const StepState& transcription,
                             const StepState& diarization);
// `step` when allowed, else the furthest step that is.
RetryStartStep normalizeRetryStartStep(RetryStartStep step, const StepState& transcription,
                                       const StepState& diarization);

} // namespace velnote
