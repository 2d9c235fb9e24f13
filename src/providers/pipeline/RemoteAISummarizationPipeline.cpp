#include "providers/pipeline/RemoteAISummarizationPipeline.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/ondevice/AppleFoundationModelError.h"
#include "providers/ondevice/AppleFoundationModelService.h"
#include "providers/pipeline/ChunkCalls.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "session/settings/UserDictionaryStore.h"

#include <vector>

namespace velnote::RemoteAISummarizationPipeline {

namespace {

const platform::Logger& log() {
    return VelnoteLogger::summarize();
}

std::string dictionaryPart(const std::vector<UserDictionaryEntry>& entries) {
    std::vector<std::string> lines = {
        L10n::localized("L10n.Summarization.userDictionaryHeader",
                        "User dictionary entries are listed below. Use them to correct mistakes in "
                        "transcription or summary. Format: \"incorrect -> correct\".")};
    for (const auto& entry : entries) {
        if (entry.wrong.empty() || entry.correct.empty())
            continue;
        lines.push_back(
            L10n::localized("L10n.UserDictionary.entryFormat", "- %@ -> %@", {entry.wrong, entry.correct}));
    }
    return platform::joined(lines, "\n");
}

bool present(const std::optional<std::string>& text) {
    return text && !platform::isBlank(*text);
}

std::string bracketed(std::string_view key, std::string_view english) {
    return "【" + L10n::localized(key, english) + "】";
}

std::string runOnDevice(const SummarizationRequest& request, const std::string& prompt,
                        const RemoteSummaryEnvironment& environment, const std::stop_token& stop) {
    const auto& service = environment.onDeviceService();
    const auto ask = [&](const std::string& userPrompt) {
        return service.summarize(request.summaryPrompt, userPrompt, request.preferDirectAppleLocalSummary,
                                 request.sessionDir, request.fallbackRecorder, stop);
    };
    try {
        return ask(prompt);
    } catch (const AppleFoundationModelError& error) {
        if (error.kind() != AppleFoundationModelError::Kind::unsupportedLanguage ||
            request.outputLanguage.empty())
            throw;
        log().notice("Apple local LLM: unsupported language {} (requested: {}), retrying without language "
                     "constraint",
                     error.current(), request.outputLanguage);
        if (request.fallbackRecorder)
            request.fallbackRecorder("provider=apple_local;reason=unsupported_language;" +
                                     request.outputLanguage + ";strategy=auto_language");
        const std::string withoutLanguage = buildUserPrompt(
            request.transcript, request.liveTranscript, request.ocrContext, "", request.additionalContext,
            request.screenshotContext, environment.providers.defaults.store());
        return ask(withoutLanguage);
    }
}

} // namespace

std::string buildUserPrompt(std::string_view transcript, std::string_view liveTranscript,
                            std::string_view ocrContext, std::string_view outputLanguage,
                            const std::optional<std::string>& additionalContext,
                            const std::optional<std::string>& screenshotContext,
                            platform::SettingsStore& settings) {
    std::vector<std::string> parts;
    if (!outputLanguage.empty())
        parts.push_back(L10n::localized("L10n.Summarization.outputLanguageLabel", "Output language") + ": " +
                        std::string(outputLanguage));
    if (present(additionalContext)) {
        parts.push_back(L10n::localized("L10n.Summarization.additionalContextHeader", "Additional context:"));
        parts.push_back(*additionalContext);
    }
    if (const auto entries = UserDictionaryStore::loadEntries(settings); !entries.empty())
        parts.push_back(dictionaryPart(entries));
    parts.push_back(
        L10n::localized("L10n.Summarization.meetingTranscriptIntro", "Below is the meeting transcript."));
    parts.push_back(bracketed("L10n.Summarization.whisperTranscript", "Whisper Transcript"));
    parts.emplace_back(transcript);
    if (!platform::isBlank(liveTranscript)) {
        parts.push_back(bracketed("L10n.Summarization.liveTranscript", "Live Transcript"));
        parts.emplace_back(liveTranscript);
    }
    if (present(screenshotContext)) {
        parts.push_back(*screenshotContext);
    } else if (!platform::isBlank(ocrContext)) {
        parts.push_back(L10n::localized(
            "L10n.Summarization.ocrContextJsonlDescription",
            "Below is the screenshot OCR context in JSON Lines format (JSONL). Each line represents one OCR "
            "record with fields: timestamp, filename, text, is_manual, and results (array of {text, "
            "score})."));
        parts.emplace_back(ocrContext);
    }
    return platform::joined(parts, "\n\n");
}

std::string runProviderSummarization(const SummarizationRequest& request, const std::string& prompt,
                                     const RemoteSummaryEnvironment& environment, std::stop_token stop) {
    // Only the on-device route differs from a chunk call: it retries without the language line.
    if (request.provider == SummaryProvider::appleLocalLLM)
        return runOnDevice(request, prompt, environment, stop);
    return RemoteAIChunkingPipeline::summarizeChunkOnce(
        RemoteAIChunkingPipeline::SummarizeChunkRequest::from(request), request.summaryPrompt, prompt,
        environment, stop);
}

bool containsContextLimit(std::string_view text) {
    const std::string lower = platform::lowercased(text);
    const auto has = [&](std::string_view word) { return lower.find(word) != std::string::npos; };
    if (has("context") && (has("limit") || has("length") || has("window") || has("token")))
        return true;
    return has("token") && has("exceed");
}

bool isContextLimitError(const std::exception& error) {
    if (const auto* onDevice = dynamic_cast<const AppleFoundationModelError*>(&error))
        return onDevice->kind() == AppleFoundationModelError::Kind::contextTooLarge;
    if (const auto* remote = dynamic_cast<const RemoteAISummarizationError*>(&error)) {
        switch (remote->kind()) {
        case RemoteAISummarizationError::Kind::httpError:
            return containsContextLimit(remote->detail());
        case RemoteAISummarizationError::Kind::cliFailed:
            return containsContextLimit(remote->standardError());
        default:
            return false;
        }
    }
    return containsContextLimit(error.what());
}

bool isContextLimitError(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return isContextLimitError(caught);
    } catch (...) {
        return false;
    }
}

} // namespace velnote::RemoteAISummarizationPipeline
