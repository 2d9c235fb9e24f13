#include "summary/service/LocalSummarizationService.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/flavor/BuildFlavor.h"
#include "platform/fs/Files.h"
#include "platform/json/RawValue.h"
#include "platform/text/Characters.h"
#include "platform/text/Whitespace.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/pipeline/RemoteAIChunkingPipeline.h"
#include "providers/pipeline/RemoteAISummarizationPipeline.h"
#include "session/VelnoteLogger.h"
#include "session/config/PromptCatalog.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/folder/SummaryVersionStore.h"
#include "summary/context/ScreenshotContext.h"
#include "summary/context/SummaryContextBuilder.h"
#include "summary/core/NativeSummarizationError.h"
#include "summary/local/LlamaSummarizationPipeline.h"
#include "summary/service/SummaryPromptAssembly.h"
#include "summary/text/ScreenshotEmbedding.h"
#include "summary/text/SummaryFormatter.h"
#include "summary/text/SummaryParser.h"

#include <system_error>

namespace velnote {

namespace {

namespace fs = std::filesystem;

// Screenshots embedded in one summary at most, and the largest JPEG of one, in KiB.
constexpr std::int64_t kMaxEmbeddedScreenshots = 12;
constexpr std::int64_t kMaxEmbeddedScreenshotKB = 300;

const platform::Logger& log() {
    return VelnoteLogger::summarize();
}

std::string valueOf(SummaryProvider provider) {
    return std::string(rawValue(provider));
}

std::string promptKeyOf(const SessionConfig& config) {
    return config.summary.promptKey.value_or("custom");
}

// The most of one input file a summary reads: far beyond a long meeting's transcript or screen
// text, and short of what a runaway file would make the step hold (and copy) in memory.
constexpr std::size_t kMaxInputFileBytes = std::size_t{64} << 20;

// The file as UTF-8 text, its whole lines up to kMaxInputFileBytes; a file that is not UTF-8
// fails like an unreadable one.
std::string readUtf8(const fs::path& path) {
    platform::LeadingLines lines = platform::readLeadingLines(path, kMaxInputFileBytes);
    if (lines.cut)
        log().error("{} is larger than {} bytes: the summary reads its first {} bytes of whole lines",
                    path.filename().string(), kMaxInputFileBytes, lines.text.size());
    if (!platform::isValidUtf8(lines.text))
        throw std::system_error(std::make_error_code(std::errc::illegal_byte_sequence),
                                path.filename().string() + " is not UTF-8 text");
    return std::move(lines.text);
}

// A file the summary can do without: "" when missing or unreadable.
std::string readTextFile(const fs::path& path, std::string_view description) {
    try {
        return readUtf8(path);
    } catch (const std::exception& error) {
        VelnoteLogger::processing().error("failed to read {}: {}", description, error.what());
        return "";
    }
}

std::optional<std::string> presetLabel(const std::string& promptKey) {
    for (const auto& preset : PromptCatalog::catalog()) {
        if (preset.id == promptKey)
            return preset.label;
    }
    return std::nullopt;
}

void archiveCurrentVersion(const fs::path& sessionDir, const platform::Clock& clock) {
    try {
        SummaryVersionStore::archiveCurrent(sessionDir, clock);
    } catch (const std::exception& error) {
        VelnoteLogger::processing().error("failed to archive summary version: {}", error.what());
    }
}

void recordInMetadata(const fs::path& sessionDir, const std::optional<std::string>& headline,
                      const SummaryFallbackRecorder& recorder) {
    try {
        SessionMetadataStore::update(sessionDir, [&](SessionMetadata& metadata) {
            metadata.summaryHeadline = headline;
            if (const auto details = recorder.details()) {
                metadata.summaryFallbackOccurred = true;
                metadata.summaryFallbackDetails = *details;
            }
        });
    } catch (const std::exception& error) {
        log().error("failed to update session metadata after summary: {}", error.what());
    }
}

// A value of the one-line header fields: a line break in a hand-edited model name would end
// the header early and put its tail into the summary body (where it could pose as the headline).
std::string headerValue(std::string value) {
    for (char& c : value) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    }
    return value;
}

} // namespace

LocalSummarizationService::Environment LocalSummarizationService::Environment::standard() {
    return {.remote = RemoteSummaryEnvironment::standard(),
            .localSummary =
                [](const GenerativeSummaryContext& context, bool preferDirectSummary,
                   const std::optional<std::string>& customModelPath, std::stop_token stop) {
                    return LlamaSummarizationPipeline::buildGenerativeSummary(context, preferDirectSummary,
                                                                              customModelPath, stop);
                },
            .language = currentInterfaceLanguage(),
            .clock = nullptr};
}

LocalSummarizationService::LocalSummarizationService(Environment environment)
    : environment_(std::move(environment)) {}

std::shared_ptr<LocalSummarizationService> LocalSummarizationService::shared() {
    static const auto service = std::make_shared<LocalSummarizationService>(Environment::standard());
    return service;
}

void installSessionSummaryService() {
    SessionSummaryService::install(LocalSummarizationService::shared());
}

SummaryProvider LocalSummarizationService::resolveSummaryProvider(const SessionConfig& config) {
    const auto provider = platform::fromRawValue<SummaryProvider>(config.summary.provider);
    if (!provider)
        return SummaryProvider::llamaCppLocal;
    if (isCommandLineProvider(*provider) && BuildFlavor::overrideIsAppStore()) {
        log().error("summary CLI provider unavailable on AppStore build: {}", valueOf(*provider));
        throw NativeSummarizationError::cliUnavailableInAppStore(valueOf(*provider));
    }
    return *provider;
}

fs::path LocalSummarizationService::summarizeSession(const fs::path& sessionDir,
                                                     const fs::path& transcriptPath,
                                                     const SessionConfig& config, std::stop_token stop) {
    const SummaryProvider provider = resolveSummaryProvider(config);
    const std::string model = resolvedModel(provider, config, environment_.remote.providers.defaults);
    const std::string outputLanguage = SummaryFormatter::normalizedOutputLanguage(config.outputLanguage);
    log().info("summarize request provider={} model={} output_language={} prompt_key={}", valueOf(provider),
               model, outputLanguage, promptKeyOf(config));

    SummaryBuildContext context{
        .provider = provider,
        .sessionDir = sessionDir,
        .transcript = readUtf8(transcriptPath),
        .model = config.summary.localModel,
        .summaryPrompt = SummaryPromptAssembly::resolvedSummaryPrompt(config, environment_.language),
        .intermediatePrompt = config.summary.intermediateResolvedPrompt,
        .outputLanguage = outputLanguage,
        .config = config};
    const auto segments = SummaryContextBuilder::extractSegments(context.transcript);
    context.segmentContext = SummaryContextBuilder::buildSummaryContext(segments);
    log().info("segments parsed={} meaningful={}", segments.size(),
               context.segmentContext.meaningfulSegments.size());
    context.ocrContext = readTextFile(sessionDir / "ocr_context.jsonl", "ocr_context.jsonl");
    context.liveTranscript = readTextFile(sessionDir / "transcript.live.txt", "transcript.live.txt");
    context.screenshotContext = SummaryContextBuilder::buildScreenshotContext(sessionDir, context.ocrContext);

    SummaryFallbackRecorder recorder;
    std::string answer = buildSummary(context, recorder, stop);
    // A stop that came while the answer was finished still ends the step without a summary.
    platform::throwIfCancelled(stop);
    if (platform::isBlank(answer) || SummaryFormatter::looksLikeMetaCommentaryOnly(answer)) {
        log().error("provider={} returned meta-commentary instead of a summary body, treating as failure",
                    valueOf(provider));
        throw NativeSummarizationError::emptySummary();
    }
    return finalizeSummary({.summary = std::move(answer),
                            .provider = provider,
                            .model = model,
                            .sessionDir = sessionDir,
                            .config = config,
                            .fallbackRecorder = &recorder,
                            .hasScreenshotContext =
                                context.screenshotContext && !platform::isBlank(*context.screenshotContext)});
}

std::string LocalSummarizationService::buildSummary(const SummaryBuildContext& context,
                                                    SummaryFallbackRecorder& fallbackRecorder,
                                                    std::stop_token stop) {
    if (context.provider != SummaryProvider::llamaCppLocal)
        return buildRemoteSummary(context, fallbackRecorder, stop);
    const GenerativeSummaryContext local{.sessionDir = context.sessionDir,
                                         .transcript = context.transcript,
                                         .liveTranscript = context.liveTranscript,
                                         .ocrContext = context.ocrContext,
                                         .screenshotContext = context.screenshotContext,
                                         .summaryContext = context.segmentContext,
                                         .model = context.model,
                                         .summaryPrompt = context.summaryPrompt,
                                         .intermediatePrompt = context.intermediatePrompt,
                                         .outputLanguage = context.outputLanguage};
    return environment_.localSummary(local, context.config.summary.preferDirectSummaryForLlamaCppLocal,
                                     context.config.summary.localModelPath, stop);
}

std::string LocalSummarizationService::buildRemoteSummary(const SummaryBuildContext& context,
                                                          SummaryFallbackRecorder& fallbackRecorder,
                                                          const std::stop_token& stop) const {
    const SummaryConfig& summary = context.config.summary;
    std::optional<std::string> additionalContext;
    if (!summary.userNote.empty())
        additionalContext = summary.userNote;
    const SummarizationRequest request{
        .provider = context.provider,
        .transcript = context.transcript,
        .liveTranscript = context.liveTranscript,
        .ocrContext = context.ocrContext,
        .summaryPrompt = summary.resolvedPrompt,
        .outputLanguage = context.outputLanguage,
        .additionalContext = additionalContext,
        .screenshotContext = context.screenshotContext,
        .providerModel = summary.providerModel,
        .providerBaseURL = summary.providerBaseURL,
        .cliCommand = summary.cliCommand,
        .cliArgs = std::nullopt,
        .preferDirectAppleLocalSummary = summary.preferDirectSummaryForAppleLocalLLM,
        .intermediatePrompt = context.intermediatePrompt,
        .sessionDir = context.sessionDir,
        .fallbackRecorder = [&fallbackRecorder](const std::string& note) { fallbackRecorder.append(note); }};
    const std::string prompt = RemoteAISummarizationPipeline::buildUserPrompt(
        request.transcript, request.liveTranscript, request.ocrContext, request.outputLanguage,
        request.additionalContext, request.screenshotContext, environment_.remote.providers.defaults.store());
    std::string reason;
    try {
        return RemoteAISummarizationPipeline::runProviderSummarization(request, prompt, environment_.remote,
                                                                       stop);
    } catch (const RemoteAISummarizationError& error) {
        if (error.kind() == RemoteAISummarizationError::Kind::emptyResponse)
            reason = "empty_response";
        else if (RemoteAISummarizationPipeline::isContextLimitError(error))
            reason = "context_limit";
        else
            throw;
    } catch (const std::exception& error) {
        if (!RemoteAISummarizationPipeline::isContextLimitError(error))
            throw;
        reason = "context_limit";
    }
    const std::string provider = valueOf(context.provider);
    log().notice("summary provider {} returned {}, retrying with chunked same-provider fallback", provider,
                 reason);
    fallbackRecorder.append("provider=" + provider + ";reason=" + reason + ";strategy=chunked");
    return RemoteAIChunkingPipeline::chunkedSummarize(request, environment_.remote, stop);
}

fs::path LocalSummarizationService::finalizeSummary(const SummaryFinalizationRequest& request) {
    std::lock_guard lock(finalizing_);
    const std::string provider = valueOf(request.provider);
    const std::string markdown = SummaryParser::buildMarkdown(SummaryParser::parse(request.summary));
    // Summary JSON with no title and no section text is as empty as a blank answer: the previous
    // summary must not be replaced by a bare header.
    if (platform::isBlank(markdown)) {
        log().error("provider={} returned a summary with no content, treating as failure", provider);
        throw NativeSummarizationError::emptySummary();
    }
    if (request.hasScreenshotContext && markdown.find("PLACEHOLDER:") == std::string::npos)
        log().error("provider={} had screenshot context but model output contained no PLACEHOLDER reference",
                    provider);

    const fs::path target = request.sessionDir / "summary.md";
    const platform::Clock& clock = environment_.clock ? *environment_.clock : platform::SystemClock::shared();
    archiveCurrentVersion(request.sessionDir, clock);
    const std::string header =
        "---\nprovider: " + provider + "\nmodel: " + headerValue(request.model) + "\n---\n";
    platform::writeFileAtomically(target, header + markdown);

    const SummaryConfig& summary = request.config.summary;
    const std::string promptKey = promptKeyOf(request.config);
    SummaryVersionStore::saveRunConfig({.provider = provider,
                                        .model = request.model,
                                        .promptKey = promptKey,
                                        .promptLabel = presetLabel(promptKey),
                                        .outputLanguage = request.config.outputLanguage,
                                        .userNote = summary.userNote},
                                       request.sessionDir);

    const CaptureConfig& capture = request.config.capture;
    const std::string embedded = SummaryFormatter::replacePlaceholders(
        markdown, request.sessionDir / "screencaptures", capture.screenshotEmbedInSummaryEnabled,
        kMaxEmbeddedScreenshots, kMaxEmbeddedScreenshotKB, capture.screenshotEmbedMaxWidth);
    if (embedded != markdown) {
        try {
            platform::writeFileAtomically(target, header + embedded);
        } catch (const std::exception& error) {
            log().error("failed to write embedded summary: {}", error.what());
        }
    }
    recordInMetadata(request.sessionDir, SummaryFormatter::extractSummaryHeadline(target),
                     *request.fallbackRecorder);
    log().info("summary written: {}", target.string());
    return target;
}

} // namespace velnote
