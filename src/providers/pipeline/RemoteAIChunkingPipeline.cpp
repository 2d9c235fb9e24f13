#include "providers/pipeline/RemoteAIChunkingPipeline.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/WorkerGroup.h"
#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/pipeline/RemoteAISummarizationPipeline.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "summary/context/ScreenshotContext.h"
#include "summary/context/SummaryChunkingUtils.h"
#include "summary/context/SummaryContextBuilder.h"
#include "summary/text/SummaryFormatter.h"
#include "summary/text/SummaryNoteStore.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace velnote::RemoteAIChunkingPipeline {

namespace {

using RemoteAISummarizationPipeline::isContextLimitError;
namespace Utils = SummaryChunkingUtils;

const platform::Logger& log() {
    return VelnoteLogger::summarize();
}

std::string providerValue(SummaryProvider provider) {
    return std::string(rawValue(provider));
}

void record(const FallbackNoteSink& recorder, const std::string& note) {
    if (recorder)
        recorder(note);
}

// The model name that picks the short directives of small local models.
std::string directiveModel(SummaryProvider provider, const std::optional<std::string>& providerModel) {
    if (providerModel)
        return *providerModel;
    return provider == SummaryProvider::appleLocalLLM ? "apple_local" : "";
}

platform::SettingsStore& settingsOf(const RemoteSummaryEnvironment& environment) {
    return environment.providers.defaults.store();
}

Utils::NoteRequest notePrompts(const SummarySourceChunk& chunk, const SummarizationRequest& request,
                               const RemoteSummaryEnvironment& environment) {
    std::optional<std::string> hint;
    if (request.screenshotContext)
        hint = SummaryContextBuilder::filterScreenshotContext(*request.screenshotContext, chunk.label);
    return Utils::chunkNoteContent(chunk, request.intermediatePrompt, request.outputLanguage, hint,
                                   directiveModel(request.provider, request.providerModel),
                                   currentInterfaceLanguage(), settingsOf(environment));
}

std::string finalInstruction(InterfaceLanguage language) {
    if (language == InterfaceLanguage::japanese)
        return platform::joined(
            {"以下の圧縮メモだけを情報源として、システムプロンプトの形式通りに最終概要を Markdown "
             "で作成してください。",
             "【厳守事項】",
             "- 出力は必ずシステムプロンプト指定のテーブル形式（`| 項目 | 内容 |`）で開始すること",
             "- 圧縮メモ内の `![alt](PLACEHOLDER:filename)` "
             "は一字一句変えずに最終概要に含めること（削除・変更・省略禁止）",
             "- テーブルは必ず `| 項目 | 内容 |` と `|------|------|` のヘッダ行を含めること",
             "- 内容が少なくてもフォーマットは崩さないこと", "- 圧縮メモにない情報は追加しない"},
            "\n");
    return platform::joined(
        {"Using only the compressed notes below as your source,",
         "create the final summary in Markdown following the format in the system prompt.", "[REQUIRED]",
         "- Always start output with the table format specified in the system prompt (`| Item | Details |`)",
         "- Preserve every `![alt](PLACEHOLDER:filename)` image reference from the compressed notes "
         "exactly as-is",
         "  (do not remove, alter, or omit)",
         "- The table must include the header row `| Item | Details |` and `|------|------|`",
         "- Maintain the format even if content is sparse",
         "- Do not add information not present in the compressed notes."},
        "\n");
}

std::string timeRangeLine(InterfaceLanguage language, const std::string& range) {
    if (language == InterfaceLanguage::japanese)
        return "\n- 録音時間範囲: " + range + "（所要時間の算出に使用）";
    return "\n- Recording time range: " + range + " (use for duration calculation)";
}

std::string mergeRules(InterfaceLanguage language) {
    if (language == InterfaceLanguage::japanese)
        return "\n\n複数の中間ノートを統合せよ。完全一致の重複のみ削除し、一意な事実・数値・固有名詞・決定事"
               "項・"
               "アクションアイテムをすべて保持する。\n1行＝1項目。情報を追加・推測しない。![alt](PLACEHOLDER:"
               "filename) 形式の画像参照はそのまま保持すること。";
    return "\n\n" +
           platform::joined({"Merge multiple intermediate notes.",
                             "Remove only exact duplicates; retain all unique facts, numbers, proper nouns,",
                             "decisions, and action items.", "1 line = 1 item.",
                             "Do not add information or inferences.",
                             "Preserve image references in the form ![alt](PLACEHOLDER:filename) as-is."},
                            "\n");
}

SummarizeChunkRequest chunkRequestOf(const MergeRequest& m) {
    return {.provider = m.provider,
            .providerModel = m.providerModel,
            .providerBaseURL = m.providerBaseURL,
            .cliCommand = m.cliCommand,
            .cliArgs = m.cliArgs};
}

std::string mergeLabel(std::int64_t level, std::size_t batchIndex) {
    char number[32];
    std::snprintf(number, sizeof number, "%03zu", batchIndex + 1);
    return "merge_l" + std::to_string(level) + "_" + number;
}

std::optional<std::string> noteOfChunk(const SummarySourceChunk& chunk, std::size_t index, std::size_t total,
                                       const SummarizationRequest& request,
                                       const RemoteSummaryEnvironment& environment,
                                       const std::stop_token& stop) {
    const auto index64 = static_cast<std::int64_t>(index);
    if (auto cached =
            SummaryNoteStore::loadIntermediateNoteShared(chunk.label, index64, request.sessionDir)) {
        log().notice("chunked: chunk {}/{} resumed from cache", index + 1, total);
        return cached;
    }
    const auto prompts = notePrompts(chunk, request, environment);
    SummaryNoteStore::saveIntermediateNoteInputShared(chunk.label, prompts.system, prompts.user, index64,
                                                      request.sessionDir);
    auto note = summarizeChunkWithSplitRetry(chunk, request, index64 + 1, environment, stop);
    if (!note || note->empty())
        return std::nullopt;
    SummaryNoteStore::saveIntermediateNoteShared(*note, chunk.label, index64, request.sessionDir);
    return note;
}

} // namespace

ChunkSizes chunkSizes(SummaryProvider provider) {
    switch (provider) {
    case SummaryProvider::llamaCppLocal:
        return {6400, 7200, 4};
    case SummaryProvider::appleLocalLLM:
        return {6400, 7200, 2};
    case SummaryProvider::claudeCLI:
    case SummaryProvider::copilotCLI:
    case SummaryProvider::antigravityCLI:
        return {8000, 10000, 4};
    case SummaryProvider::openAI:
    case SummaryProvider::openRouter:
    case SummaryProvider::githubCopilotAPI:
    case SummaryProvider::claudeAPI:
    case SummaryProvider::ollama:
    case SummaryProvider::geminiAPI:
        break;
    }
    return {10000, 12000, 6};
}

std::size_t noteConcurrencyLimit(unsigned processors) {
    return processors > 1 ? std::clamp<std::size_t>(processors / 2, 1, 3) : 1;
}

std::string chunkedSummarize(const SummarizationRequest& request, const RemoteSummaryEnvironment& environment,
                             std::stop_token stop) {
    const ChunkSizes sizes = chunkSizes(request.provider);
    const auto chunks = SummaryContextBuilder::buildSourceChunks(request.transcript, request.liveTranscript,
                                                                 request.ocrContext, sizes.sourceChunkBytes,
                                                                 sizes.maxOCRChunks);
    log().info("chunked summarization: chunks={} provider={}", chunks.size(),
               providerValue(request.provider));
    if (chunks.empty())
        throw RemoteAISummarizationError::emptyResponse();
    const auto timeRange = Utils::extractTranscriptTimeRange(request.transcript);
    if (chunks.size() == 1)
        return summarizeSingleSourceChunk(chunks.front(), request, timeRange, environment, stop);

    auto notes = buildIntermediateNotes(request, chunks, noteConcurrencyLimit(environment.processors()),
                                        environment, stop);
    if (notes.empty())
        throw RemoteAISummarizationError::emptyResponse();
    const std::string merged = mergeIntermediateNotesForAPI({.notes = std::move(notes),
                                                             .provider = request.provider,
                                                             .intermediatePrompt = request.intermediatePrompt,
                                                             .outputLanguage = request.outputLanguage,
                                                             .mergeByteLimit = sizes.mergeBatchBytes,
                                                             .providerModel = request.providerModel,
                                                             .providerBaseURL = request.providerBaseURL,
                                                             .cliCommand = request.cliCommand,
                                                             .cliArgs = request.cliArgs,
                                                             .sessionDir = request.sessionDir,
                                                             .fallbackRecorder = request.fallbackRecorder,
                                                             .level = 1},
                                                            environment, stop);
    return summarizeFinalOverview(request, merged, timeRange, environment, stop);
}

std::vector<std::string> buildIntermediateNotes(const SummarizationRequest& request,
                                                const std::vector<SummarySourceChunk>& sourceChunks,
                                                std::size_t maxConcurrency,
                                                const RemoteSummaryEnvironment& environment,
                                                std::stop_token stop) {
    const std::size_t total = sourceChunks.size();
    // Each index is written by the one worker that took it and read only after every worker ended.
    std::vector<std::optional<std::string>> results(total);
    std::mutex mutex;
    std::size_t next = 0; // guarded by mutex: the next chunk to start, so chunks start in order
    {
        platform::WorkerGroup workers(stop);
        const auto work = [&](std::stop_token groupStop) {
            for (;;) {
                std::size_t index;
                {
                    std::lock_guard lock(mutex);
                    if (next >= total || groupStop.stop_requested())
                        return;
                    index = next++;
                }
                results[index] =
                    noteOfChunk(sourceChunks[index], index, total, request, environment, groupStop);
            }
        };
        for (std::size_t i = 0; i < std::min(std::max<std::size_t>(maxConcurrency, 1), total); ++i)
            workers.add(work);
        workers.wait();
    }
    platform::throwIfCancelled(stop);
    std::vector<std::string> notes;
    for (auto& result : results) {
        if (result && !result->empty())
            notes.push_back(std::move(*result));
    }
    return notes;
}

std::optional<std::string> summarizeChunkWithSplitRetry(const SummarySourceChunk& chunk,
                                                        const SummarizationRequest& request,
                                                        std::int64_t chunkNumber,
                                                        const RemoteSummaryEnvironment& environment,
                                                        std::stop_token stop) {
    const auto prompts = notePrompts(chunk, request, environment);
    try {
        return SummaryFormatter::sanitizeGeneratedOverview(summarizeChunk(
            SummarizeChunkRequest::from(request), prompts.system, prompts.user, environment, stop));
    } catch (const std::exception& error) {
        if (!isContextLimitError(error))
            throw;
    }
    const std::string provider = providerValue(request.provider);
    const auto halves = splitChunkInHalf(chunk);
    if (!halves) {
        log().error("chunked: chunk {} exceeded context and cannot be split further", chunkNumber);
        record(request.fallbackRecorder,
               "provider=" + provider + ";strategy=chunk_skip;chunk=" + std::to_string(chunkNumber));
        return std::nullopt;
    }
    log().notice("chunked: chunk {} exceeded context, splitting in half and retrying", chunkNumber);
    record(request.fallbackRecorder,
           "provider=" + provider + ";strategy=chunk_split;chunk=" + std::to_string(chunkNumber));
    std::vector<std::string> kept;
    for (const auto* half : {&halves->first, &halves->second}) {
        auto note = summarizeChunkWithSplitRetry(*half, request, chunkNumber, environment, stop);
        if (note && !note->empty())
            kept.push_back(std::move(*note));
    }
    if (kept.empty())
        return std::nullopt;
    return platform::joined(kept, "\n");
}

std::optional<std::pair<SummarySourceChunk, SummarySourceChunk>>
splitChunkInHalf(const SummarySourceChunk& chunk) {
    const std::string& text = chunk.text;
    if (text.size() <= kLargestUnsplitChunkBytes)
        return std::nullopt;
    const std::size_t mid = platform::prefixCharacters(text, platform::characterCount(text) / 2).size();
    std::size_t cut = text.find('\n', mid);
    if (cut == std::string::npos)
        cut = mid == 0 ? std::string::npos : text.rfind('\n', mid - 1);
    if (cut == std::string::npos)
        cut = mid;
    if (cut == 0 || cut >= text.size())
        return std::nullopt;
    std::string first = platform::trimWhitespace(std::string_view(text).substr(0, cut));
    std::string second = platform::trimWhitespace(std::string_view(text).substr(cut));
    if (first.empty() || second.empty())
        return std::nullopt;
    return std::pair{SummarySourceChunk{chunk.label + " (1/2)", std::move(first)},
                     SummarySourceChunk{chunk.label + " (2/2)", std::move(second)}};
}

FinalPrompt finalPrompt(const SummarizationRequest& request, std::string_view notes,
                        const std::optional<std::string>& timeRange, ScreenshotList screenshots,
                        platform::SettingsStore& settings) {
    const InterfaceLanguage language = currentInterfaceLanguage();
    const std::string model = directiveModel(request.provider, request.providerModel);
    FinalPrompt prompt;
    prompt.system = Utils::buildOutputLanguageInstruction(request.outputLanguage) + "\n\n" +
                    Utils::compactSummaryDirective(request.summaryPrompt, model, language);
    prompt.user = finalInstruction(language);
    if (timeRange && !timeRange->empty())
        prompt.user += timeRangeLine(language, *timeRange);
    prompt.user +=
        "\n\n【" + L10n::localized("L10n.Summarization.compressedNotes", "Compressed Notes") + "】\n";
    prompt.user += notes;
    if (const std::string hint = Utils::userDictionaryHint(settings); !hint.empty())
        prompt.user += "\n\n" + hint;
    if (screenshots == ScreenshotList::allowed && request.screenshotContext &&
        !platform::isBlank(*request.screenshotContext))
        prompt.user += "\n\n" + *request.screenshotContext;
    return prompt;
}

std::string summarizeSingleSourceChunk(const SummarySourceChunk& chunk, const SummarizationRequest& request,
                                       const std::optional<std::string>& timeRange,
                                       const RemoteSummaryEnvironment& environment, std::stop_token stop) {
    const auto prompt =
        finalPrompt(request, chunk.text, timeRange, ScreenshotList::allowed, settingsOf(environment));
    return summarizeChunk(SummarizeChunkRequest::from(request), prompt.system, prompt.user, environment,
                          stop);
}

std::string mergeIntermediateNotesForAPI(const MergeRequest& request,
                                         const RemoteSummaryEnvironment& environment, std::stop_token stop) {
    MergeRequest m = request;
    for (;;) {
        if (m.notes.size() == 1)
            return m.notes.front();
        if (m.level > kMaxMergeLevel) {
            log().error("merge depth exceeded, concatenating {} notes", m.notes.size());
            return platform::joined(m.notes, "\n");
        }
        const auto batches = SummaryContextBuilder::buildNoteChunks(m.notes, m.mergeByteLimit);
        if (batches.size() >= m.notes.size()) {
            log().error("merge not converging at level {}: {} notes → {} batches, concatenating", m.level,
                        m.notes.size(), batches.size());
            return platform::joined(m.notes, "\n");
        }
        auto merged = mergeNoteChunks(batches, m, environment, stop);
        if (merged.empty())
            return platform::joined(m.notes, "\n");
        m.notes = std::move(merged);
        ++m.level;
    }
}

std::vector<std::string> mergeNoteChunks(const std::vector<std::string>& batches, const MergeRequest& request,
                                         const RemoteSummaryEnvironment& environment, std::stop_token stop) {
    const InterfaceLanguage language = currentInterfaceLanguage();
    const std::string directive = Utils::compactIntermediateDirective(
        request.intermediatePrompt, directiveModel(request.provider, request.providerModel), language);
    const std::string system =
        Utils::buildOutputLanguageInstruction(request.outputLanguage) + mergeRules(language);
    const std::string heading =
        "【" +
        L10n::localized("L10n.Summarization.intermediateNoteGuidelines", "Intermediate Note Guidelines") +
        "】\n" + directive + "\n\n【" +
        L10n::localized("L10n.Summarization.mergeLevelInput", "Merge Level %d Input", {request.level}) +
        "】\n";
    std::vector<std::string> merged;
    for (std::size_t b = 0; b < batches.size(); ++b) {
        try {
            std::string answer =
                summarizeChunk(chunkRequestOf(request), system, heading + batches[b], environment, stop);
            SummaryNoteStore::saveIntermediateNoteShared(answer, mergeLabel(request.level, b),
                                                         static_cast<std::int64_t>(b), request.sessionDir);
            merged.push_back(std::move(answer));
        } catch (const std::exception& error) {
            if (!isContextLimitError(error))
                throw;
            record(request.fallbackRecorder,
                   "provider=" + providerValue(request.provider) +
                       ";strategy=merge_batch_skip;level=" + std::to_string(request.level));
            merged.push_back(batches[b]);
        }
    }
    return merged;
}

std::string summarizeFinalOverview(const SummarizationRequest& request, const std::string& mergedNotes,
                                   const std::optional<std::string>& timeRange,
                                   const RemoteSummaryEnvironment& environment, std::stop_token stop) {
    const std::string provider = providerValue(request.provider);
    const auto ask = [&](ScreenshotList screenshots) {
        const auto prompt =
            finalPrompt(request, mergedNotes, timeRange, screenshots, settingsOf(environment));
        return summarizeChunk(SummarizeChunkRequest::from(request), prompt.system, prompt.user, environment,
                              stop);
    };
    const auto giveUp = [&] {
        log().error("final overview still exceeded context, returning merged notes as-is");
        record(request.fallbackRecorder,
               "provider=" + provider + ";reason=context_limit;strategy=final_skip");
        return mergedNotes;
    };
    try {
        return ask(ScreenshotList::allowed);
    } catch (const std::exception& error) {
        if (!isContextLimitError(error))
            throw;
    }
    if (!request.screenshotContext)
        return giveUp();
    log().notice("final overview exceeded context, retrying without screenshot context");
    record(request.fallbackRecorder,
           "provider=" + provider + ";reason=context_limit;strategy=final_no_screenshot");
    try {
        return ask(ScreenshotList::leftOut);
    } catch (const std::exception& error) {
        if (!isContextLimitError(error))
            throw;
    }
    return giveUp();
}

} // namespace velnote::RemoteAIChunkingPipeline
