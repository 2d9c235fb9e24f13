#include "context/live/summary/LiveSummaryGenerator.h"

#include "platform/http/HttpError.h"
#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "processing/modelslot/ModelExecutionScheduler.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/ondevice/AppleFoundationModelError.h"
#include "providers/pipeline/RemoteAIChunkingPipeline.h"
#include "providers/pipeline/RemoteAISummarizationPipeline.h"
#include "session/VelnoteLogger.h"
#include "session/config/PromptCatalog.h"
#include "session/l10n/L10n.h"
#include "summary/context/SummaryContextBuilder.h"
#include "summary/core/NativeSummarizationError.h"
#include "summary/local/SummaryPromptBuilder.h"
#include "summary/text/SummaryFormatter.h"

#include <algorithm>
#include <vector>

namespace velnote {

namespace {

const platform::Logger& log() {
    return VelnoteLogger::summarize();
}

// The previous summary under its heading; none before the first summary.
std::optional<std::string> previousSummarySection(const std::string& previous) {
    if (previous.empty()) {
        return std::nullopt;
    }
    return L10n::localized("L10n.Summarization.previousLiveSummary", "Previous Live Summary") + "\n" +
           previous;
}

// The remote request of a live summary: no chunk directive, no session folder, no recorder.
SummarizationRequest liveRequest(SummaryProvider provider, const std::string& transcript,
                                 const std::string& ocrContext, const std::string& prompt,
                                 const std::string& outputLanguage,
                                 const std::optional<std::string>& additionalContext) {
    return SummarizationRequest{.provider = provider,
                                .transcript = transcript,
                                .liveTranscript = transcript,
                                .ocrContext = ocrContext,
                                .summaryPrompt = prompt,
                                .outputLanguage = outputLanguage,
                                .additionalContext = additionalContext};
}

bool isAppleError(const std::exception_ptr& failure, AppleFoundationModelError::Kind kind) {
    try {
        std::rethrow_exception(failure);
    } catch (const AppleFoundationModelError& error) {
        return error.kind() == kind;
    } catch (...) {
        return false;
    }
}

std::string localizedMessage(std::string_view key, const std::string& defaultText) {
    return L10n::localized(key, defaultText);
}

std::string httpErrorMessage(const std::string& detail) {
    const auto has = [&](std::string_view text) { return detail.find(text) != std::string::npos; };
    if (has("status=429")) {
        return localizedMessage("L10n.LiveSummary.error.rateLimited",
                                "レートリミットに達しました。しばらくすると自動的に再試行します。");
    }
    if (has("status=401") || has("status=403")) {
        return localizedMessage("L10n.LiveSummary.error.authFailed",
                                "APIキーが無効です。設定を確認してください。");
    }
    if (has("status=5")) {
        return localizedMessage(
            "L10n.LiveSummary.error.serverError",
            "要約APIサーバーでエラーが発生しました。しばらくすると自動的に再試行します。");
    }
    return localizedMessage("L10n.LiveSummary.error.httpError",
                            "要約APIの呼び出しに失敗しました。しばらくすると自動的に再試行します。");
}

std::string unknownFailureMessage() {
    return localizedMessage("L10n.LiveSummary.error.unknown",
                            "ライブ要約に失敗しました。しばらくすると自動的に再試行します。");
}

} // namespace

LiveSummaryGenerator::Environment LiveSummaryGenerator::Environment::standard() {
    return Environment{.local = LlamaSummarizationPipeline::Environment::standard(),
                       .remote = RemoteSummaryEnvironment::standard()};
}

LiveSummaryGenerator::LiveSummaryGenerator() : LiveSummaryGenerator(Environment::standard()) {}

LiveSummaryGenerator::LiveSummaryGenerator(Environment environment) : environment_(std::move(environment)) {}

const CLIChatService& LiveSummaryGenerator::cli() const {
    return environment_.cli != nullptr ? *environment_.cli : CLIChatService::shared();
}

std::string LiveSummaryGenerator::makeLiveSummary(SummaryProvider provider, const LiveSummaryRequest& request,
                                                  const LiveSummaryLocalModel& localModel,
                                                  std::stop_token stop) const {
    switch (provider) {
    case SummaryProvider::llamaCppLocal:
        return makeLocalSummary(request, localModel, stop);
    case SummaryProvider::appleLocalLLM:
        return summarizeWithAppleLocalFallback(request.recentTranscript, request.ocrContext, request.previous,
                                               request.prompt, request.outputLanguage, stop);
    case SummaryProvider::claudeCLI:
    case SummaryProvider::copilotCLI:
        return makeCLIProviderSummary(provider, request, stop);
    case SummaryProvider::openAI:
    case SummaryProvider::openRouter:
    case SummaryProvider::githubCopilotAPI:
    case SummaryProvider::claudeAPI:
    case SummaryProvider::ollama:
    case SummaryProvider::antigravityCLI:
    case SummaryProvider::geminiAPI:
        break;
    }
    return makeRemoteSummary(provider, request, stop);
}

std::string LiveSummaryGenerator::localUserMessage(const LiveSummaryRequest& request,
                                                   const std::string& localModel) const {
    const auto profile = SummaryContextBuilder::generationProfile(localModel);
    const auto promptBytes = static_cast<std::int64_t>(request.prompt.size());
    const std::int64_t limit = std::max<std::int64_t>(profile.sourceChunkByteLimit - promptBytes - 256, 1024);
    const std::string body = LlamaSummarizationPipeline::buildLiveSummaryCombinedText(
        request.recentTranscript, request.ocrContext, request.previous, limit);
    const std::string language = SummaryFormatter::normalizedOutputLanguage(request.outputLanguage);
    if (environment_.local.language == InterfaceLanguage::japanese) {
        return "出力言語: " + language +
               "\n以下の情報を使って、録音中画面に表示する短いライブ要約を更新してください。\n"
               "- 既存要約がある場合は継承し、冗長な重複を削減する\n"
               "- 新しい内容を優先して反映する\n"
               "- Markdown で 5 行以内に簡潔にまとめる\n\n" +
               body;
    }
    return "Output language: " + language +
           "\nUsing the information below, update the short live summary displayed during recording.\n"
           "- If a previous summary exists, build on it and reduce redundant overlap.\n"
           "- Prioritize reflecting new content.\n"
           "- Keep it concise in Markdown, within 5 lines.\n\n" +
           body;
}

std::string LiveSummaryGenerator::makeLocalSummary(const LiveSummaryRequest& request,
                                                   const LiveSummaryLocalModel& localModel,
                                                   std::stop_token stop) const {
    const auto& local = environment_.local;
    const auto modelPath =
        LlamaSummarizationPipeline::resolveModelPath(localModel.model, localModel.path, stop, local.models);
    const std::string prompt = SummaryPromptBuilder::buildLlamaPrompt(
        localUserMessage(request, localModel.model), request.prompt, localModel.model);

    auto& scheduler = local.scheduler != nullptr ? *local.scheduler : ModelExecutionScheduler::shared();
    const ModelExecutionSlotToken token =
        scheduler.reserveSlot(ModelExecutionPriority::localSummary, stop).get();
    std::string generated;
    try {
        generated = local.generate(prompt, modelPath, 400, stop);
    } catch (...) {
        (void)scheduler.releaseSlot(token);
        throw;
    }
    (void)scheduler.releaseSlot(token);

    std::string cleaned = SummaryFormatter::sanitizeGeneratedOverview(generated);
    if (cleaned.empty()) {
        throw NativeSummarizationError::emptySummary();
    }
    return cleaned;
}

std::string LiveSummaryGenerator::makeCLIProviderSummary(SummaryProvider provider,
                                                         const LiveSummaryRequest& request,
                                                         std::stop_token stop) const {
    std::vector<std::string> parts;
    parts.push_back(!request.prompt.empty() ? request.prompt
                                            : PromptCatalog::LiveSummaryCLI::system(
                                                  request.outputLanguage, environment_.local.language ==
                                                                              InterfaceLanguage::japanese));
    if (auto previous = previousSummarySection(request.previous)) {
        parts.push_back(std::move(*previous));
    }
    if (!request.ocrContext.empty()) {
        parts.push_back("【画面情報】\n" + request.ocrContext);
    }
    parts.push_back("【トランスクリプト】\n" + request.recentTranscript);
    const std::string text = platform::joined(parts, "\n\n");

    if (provider == SummaryProvider::copilotCLI) {
        return cli().runCopilotCLIForChat(text, std::nullopt, request.providerModel, false, {}, stop).text;
    }
    return cli().runClaudeCLIForChat(text, std::nullopt, request.providerModel, false, stop).text;
}

std::string LiveSummaryGenerator::runWithChunkedFallback(const SummarizationRequest& request,
                                                         const std::string& userPrompt,
                                                         std::string_view providerText,
                                                         const std::stop_token& stop) const {
    try {
        return RemoteAISummarizationPipeline::runProviderSummarization(request, userPrompt,
                                                                       environment_.remote, stop);
    } catch (const std::exception& error) {
        const auto* remote = dynamic_cast<const RemoteAISummarizationError*>(&error);
        std::string reason;
        if (remote != nullptr && remote->kind() == RemoteAISummarizationError::Kind::emptyResponse) {
            reason = "empty_response";
        } else if (RemoteAISummarizationPipeline::isContextLimitError(error)) {
            reason = "context_limit";
        } else {
            throw;
        }
        log().notice("summary provider {} returned {}, retrying with chunked same-provider fallback",
                     providerText, reason);
    }
    return RemoteAIChunkingPipeline::chunkedSummarize(request, environment_.remote, stop);
}

std::string LiveSummaryGenerator::summarizeWithAppleLocalFallback(
    const std::string& transcript, const std::string& ocrContext, const std::string& previousSummary,
    const std::string& prompt, const std::string& outputLanguage, std::stop_token stop) const {
    platform::SettingsStore& settings = environment_.remote.providers.defaults.store();
    const auto attempt = [&](const std::string& text, const std::optional<std::string>& additionalContext) {
        const std::string userPrompt = RemoteAISummarizationPipeline::buildUserPrompt(
            text, text, ocrContext, outputLanguage, additionalContext, std::nullopt, settings);
        const auto request = liveRequest(SummaryProvider::appleLocalLLM, text, ocrContext, prompt,
                                         outputLanguage, additionalContext);
        return runWithChunkedFallback(request, userPrompt, rawValue(SummaryProvider::appleLocalLLM), stop);
    };

    std::exception_ptr failure;
    try {
        return attempt(transcript, previousSummarySection(previousSummary));
    } catch (...) {
        failure = std::current_exception();
    }
    if (isAppleError(failure, AppleFoundationModelError::Kind::unsupportedLanguage)) {
        log().error("Apple local live summary unsupported in current locale");
        std::rethrow_exception(failure);
    }
    if (!isAppleError(failure, AppleFoundationModelError::Kind::contextTooLarge)) {
        std::rethrow_exception(failure);
    }
    log().notice("Apple local live summary context too large, retrying with reduced context");
    try {
        return attempt(transcript, std::nullopt);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!isAppleError(failure, AppleFoundationModelError::Kind::contextTooLarge)) {
        std::rethrow_exception(failure);
    }
    return attempt(reduceTranscriptContext(transcript, 3000), std::nullopt);
}

std::string LiveSummaryGenerator::makeRemoteSummary(SummaryProvider provider,
                                                    const LiveSummaryRequest& request,
                                                    std::stop_token stop) const {
    const auto previous = previousSummarySection(request.previous);
    const std::string userPrompt = RemoteAISummarizationPipeline::buildUserPrompt(
        request.recentTranscript, request.recentTranscript, request.ocrContext, request.outputLanguage,
        previous, std::nullopt, environment_.remote.providers.defaults.store());
    auto summaryRequest = liveRequest(provider, request.recentTranscript, request.ocrContext, request.prompt,
                                      request.outputLanguage, previous);
    summaryRequest.providerModel = request.providerModel;
    summaryRequest.providerBaseURL = request.providerBaseURL;
    return runWithChunkedFallback(summaryRequest, userPrompt, rawValue(provider), stop);
}

std::string LiveSummaryGenerator::reduceTranscriptContext(std::string_view text, std::int64_t maxChars) {
    const std::string trimmed = platform::trimWhitespace(text);
    const auto characters = platform::splitCharacters(trimmed);
    const auto keep = static_cast<std::size_t>(std::max<std::int64_t>(maxChars, 0));
    if (characters.size() <= keep) {
        return trimmed;
    }
    if (keep == 0) {
        return {};
    }
    const auto start = static_cast<std::size_t>(characters[characters.size() - keep].data() - trimmed.data());
    const std::string tail = trimmed.substr(start);
    const auto lineBreak = tail.find('\n');
    if (lineBreak == std::string::npos) {
        return tail;
    }
    return platform::trimWhitespace(std::string_view(tail).substr(lineBreak + 1));
}

std::string LiveSummaryGenerator::liveSummaryUserMessage(const std::exception_ptr& failure) {
    using Kind = RemoteAISummarizationError::Kind;
    try {
        std::rethrow_exception(failure);
    } catch (const RemoteAISummarizationError& error) {
        switch (error.kind()) {
        case Kind::missingSetting:
            return L10n::localized("L10n.LiveSummary.error.missingSetting", "設定が不足しています: %@",
                                   {error.detail()});
        case Kind::httpError:
            return httpErrorMessage(error.detail());
        case Kind::emptyResponse:
            return localizedMessage("L10n.LiveSummary.error.emptyResponse",
                                    "要約結果が空でした。しばらくすると自動的に再試行します。");
        default:
            return unknownFailureMessage();
        }
    } catch (const platform::HttpError& error) {
        switch (error.code()) {
        case platform::HttpError::Code::networkConnectionLost:
            return localizedMessage("L10n.LiveSummary.error.noNetwork",
                                    "ネットワーク接続を確認してください。");
        case platform::HttpError::Code::timedOut:
            return localizedMessage("L10n.LiveSummary.error.timeout",
                                    "要約APIがタイムアウトしました。しばらくすると自動的に再試行します。");
        default:
            return unknownFailureMessage();
        }
    } catch (...) {
        return unknownFailureMessage();
    }
}

} // namespace velnote
