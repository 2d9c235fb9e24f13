#include "summary/local/LlamaSummarizationPipeline.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "summary/context/SummaryChunkingUtils.h"
#include "summary/context/SummaryContextBuilder.h"
#include "summary/local/LlamaCppTextGenerator.h"
#include "summary/local/SummaryPromptBuilder.h"
#include "summary/text/SummaryFormatter.h"
#include "summary/text/SummaryNoteStore.h"

#include <limits>

namespace velnote::LlamaSummarizationPipeline {
namespace {

using namespace SummaryContextBuilder;
using namespace SummaryChunkingUtils;
using namespace SummaryFormatter;
using SummaryPromptBuilder::buildLlamaPrompt;

constexpr std::int64_t kDeepestMergeLevel = 8;
// Room for a section is only worth giving from this many bytes on.
constexpr std::int64_t kLiveSectionMinimumBytes = 65;

const std::vector<std::string> kDecisionKeywords{"決定", "決め", "合意", "方針", "採用", "確定"};
const std::vector<std::string> kTodoKeywords{"TODO", "課題", "対応", "確認", "実装",
                                             "調査", "担当", "期限", "宿題"};

struct ItemLimits {
    std::int64_t highlights;
    std::int64_t decisions;
    std::int64_t todos;
};

ItemLimits itemLimits(const std::string& model) {
    if (model == "qwen2.5-3b-instruct-mlx-4bit")
        return {2, 3, 4};
    if (model == "qwen3-8b-instruct-mlx-4bit")
        return {4, 6, 8};
    return {3, 5, 6};
}

const platform::Logger& logger() {
    return VelnoteLogger::summarize();
}

// Gives the model slot back when the summary leaves it, on every road.
class SlotHold {
  public:
    SlotHold(ModelExecutionScheduler& scheduler, ModelExecutionSlotToken token)
        : scheduler_(scheduler), token_(token) {}
    ~SlotHold() { (void)scheduler_.releaseSlot(token_); }
    SlotHold(const SlotHold&) = delete;
    SlotHold& operator=(const SlotHold&) = delete;

  private:
    ModelExecutionScheduler& scheduler_;
    ModelExecutionSlotToken token_;
};

std::int64_t byteCount(std::string_view text) {
    return static_cast<std::int64_t>(text.size());
}

std::string generateSinglePass(const SinglePassOverviewRequest& request, std::stop_token stop,
                               const Environment& environment) {
    const std::string prompt = SummaryPromptBuilder::buildSinglePassOverviewPrompt(
        request.chunk, request.summaryPrompt, request.outputLanguage, request.model, environment.language);
    return environment.generate(prompt, request.modelPath, request.maxTokens, stop);
}

std::string finalUserText(const MergedHierarchicalOverviewRequest& request, const std::string& merged,
                          InterfaceLanguage language) {
    const bool japanese = language == InterfaceLanguage::japanese;
    std::string user =
        japanese
            ? "以下の圧縮メモだけを情報源として、システムプロンプトの形式通りに最終概要を Markdown "
              "で作成してください。\n- 会議の流れ・主要な決定・アクションアイテム・未完了事項をすべて含め"
              "る\n- テーブルは `| 項目 | 内容 |` 形式で出力する\n- 圧縮メモにない情報は追加しない"
            : "Using only the compressed notes below as your source,\ncreate the final summary in Markdown "
              "following the format in the system prompt.\n- Include the meeting flow, key decisions, action "
              "items, and unresolved issues.\n- Output tables in `| Item | Details |` format.\n- Do not add "
              "information not present in the compressed notes.";
    if (const auto range = extractTranscriptTimeRange(request.transcript, language);
        range && !range->empty()) {
        user += japanese ? "\n- 録音時間範囲: " + *range + "（所要時間の算出に使用）"
                         : "\n- Recording time range: " + *range + " (use for duration calculation)";
    }
    user += "\n\n【" + L10n::localized("L10n.Summarization.compressedNotes", "Compressed Notes") + "】\n" +
            merged;
    if (request.screenshotContext && !platform::isBlank(*request.screenshotContext))
        user += "\n\n" + *request.screenshotContext;
    return user;
}

std::string generateMergedHierarchicalOverview(const MergedHierarchicalOverviewRequest& request,
                                               std::stop_token stop, const Environment& environment) {
    const std::vector<std::string> notes =
        generateIntermediateNotes(IntermediateNotesRequest{.sourceChunks = request.sourceChunks,
                                                           .profile = request.profile,
                                                           .intermediatePrompt = request.intermediatePrompt,
                                                           .outputLanguage = request.outputLanguage,
                                                           .modelPath = request.modelPath,
                                                           .sessionDir = request.sessionDir,
                                                           .model = request.model},
                                  stop, environment);
    if (notes.empty())
        return {};
    const std::string merged =
        mergeIntermediateNotes(notes, request.modelPath, request.intermediatePrompt, request.outputLanguage,
                               1, request.profile, request.model, stop, environment);
    // Every merge answer came back empty: a final overview over no notes could only be invented.
    if (merged.empty())
        return {};
    const std::string system =
        buildOutputLanguageInstruction(request.outputLanguage) + "\n\n" +
        compactSummaryDirective(request.summaryPrompt, request.model, environment.language);
    const std::string prompt =
        buildLlamaPrompt(finalUserText(request, merged, environment.language), system, request.model);
    return sanitizeGeneratedOverview(
        environment.generate(prompt, request.modelPath, request.profile.finalOverviewMaxTokens, stop));
}

std::string generateHierarchicalOverview(const HierarchicalOverviewRequest& request, std::stop_token stop,
                                         const Environment& environment) {
    const GenerationProfile profile = generationProfile(request.model);
    std::vector<SummarySourceChunk> chunks =
        buildSourceChunks(request.transcript, request.liveTranscript, request.ocrContext,
                          profile.sourceChunkByteLimit, profile.maxOCRChunks);
    if (chunks.empty())
        return {};
    if (chunks.size() == 1) {
        return generateSinglePass(SinglePassOverviewRequest{.chunk = chunks.front(),
                                                            .summaryPrompt = request.summaryPrompt,
                                                            .outputLanguage = request.outputLanguage,
                                                            .modelPath = request.modelPath,
                                                            .model = request.model,
                                                            .maxTokens = profile.finalOverviewMaxTokens},
                                  stop, environment);
    }
    return generateMergedHierarchicalOverview(
        MergedHierarchicalOverviewRequest{.sourceChunks = std::move(chunks),
                                          .profile = profile,
                                          .intermediatePrompt = request.intermediatePrompt,
                                          .outputLanguage = request.outputLanguage,
                                          .modelPath = request.modelPath,
                                          .sessionDir = request.sessionDir,
                                          .summaryPrompt = request.summaryPrompt,
                                          .model = request.model,
                                          .screenshotContext = request.screenshotContext,
                                          .transcript = request.transcript},
        stop, environment);
}

std::string generateLlamaOverview(const GenerativeSummaryContext& context,
                                  const std::filesystem::path& modelPath, bool preferDirectSummary,
                                  std::stop_token stop, const Environment& environment) {
    if (preferDirectSummary) {
        constexpr auto unbounded = std::numeric_limits<std::int64_t>::max();
        std::vector<std::string> texts;
        for (const SummarySourceChunk& chunk : buildSourceChunks(context.transcript, context.liveTranscript,
                                                                 context.ocrContext, unbounded, unbounded))
            texts.push_back(chunk.text);
        try {
            return generateSinglePass(
                SinglePassOverviewRequest{
                    .chunk = {.label = L10n::localized("L10n.Summarization.fullText", "Full Text"),
                              .text = platform::joined(texts, "\n\n")},
                    .summaryPrompt = context.summaryPrompt,
                    .outputLanguage = context.outputLanguage,
                    .modelPath = modelPath,
                    .model = context.model,
                    .maxTokens = generationProfile(context.model).finalOverviewMaxTokens},
                stop, environment);
        } catch (const platform::CancellationError&) {
            throw;
        } catch (const std::exception& error) {
            logger().notice("llama.cpp direct summary failed, falling back to chunked summarization: {}",
                            error.what());
        }
    }
    return generateHierarchicalOverview(
        HierarchicalOverviewRequest{.sessionDir = context.sessionDir,
                                    .transcript = context.transcript,
                                    .liveTranscript = context.liveTranscript,
                                    .ocrContext = context.ocrContext,
                                    .screenshotContext = context.screenshotContext,
                                    .modelPath = modelPath,
                                    .summaryPrompt = context.summaryPrompt,
                                    .intermediatePrompt = context.intermediatePrompt,
                                    .outputLanguage = context.outputLanguage,
                                    .model = context.model},
        stop, environment);
}

} // namespace

Environment Environment::standard() {
    return Environment{.generate =
                           [](const std::string& prompt, const std::filesystem::path& modelPath,
                              std::int64_t maxTokens, std::stop_token stop) {
                               return LlamaCppTextGenerator::shared().generateAsync(prompt, modelPath,
                                                                                    maxTokens, stop);
                           },
                       .scheduler = &ModelExecutionScheduler::shared(),
                       .models = LocalModelStore::standard(),
                       .language = currentInterfaceLanguage()};
}

std::string buildGenerativeSummary(const GenerativeSummaryContext& context, bool preferDirectSummary,
                                   const std::optional<std::string>& customModelPath, std::stop_token stop,
                                   const Environment& environment) {
    const SummaryTextResources resources = summaryTextResources(context.outputLanguage);
    const SummaryContext& summaryContext = context.summaryContext;
    if (summaryContext.meaningfulSegments.size() < 3 || summaryContext.totalTextLength < 80)
        return buildShortSessionSummary(summaryContext, context.model, context.outputLanguage);

    const std::string overview =
        generateOverviewWithLlama(context, preferDirectSummary, customModelPath, stop, environment);
    if (!overview.empty() && looksLikeStructuredDocument(overview))
        return overview + "\n\n" + generativeSummaryFooter(context.model, context.outputLanguage);

    const ItemLimits limits = itemLimits(context.model);
    const std::vector<Segment>& segments = summaryContext.meaningfulSegments;
    GenerativeSummaryTextRequest request{.overview = overview,
                                         .highlights = topHighlights(segments, limits.highlights),
                                         .decisions =
                                             filteredItems(segments, kDecisionKeywords, limits.decisions),
                                         .todos = filteredItems(segments, kTodoKeywords, limits.todos),
                                         .resources = resources,
                                         .model = context.model,
                                         .outputLanguage = context.outputLanguage};
    if (request.overview.empty())
        request.overview =
            synthesizedOverview(request.highlights, request.decisions, request.todos, resources);
    return buildGenerativeSummaryText(request);
}

std::string generateOverviewWithLlama(const GenerativeSummaryContext& context, bool preferDirectSummary,
                                      const std::optional<std::string>& customModelPath, std::stop_token stop,
                                      const Environment& environment) {
    ModelExecutionScheduler& scheduler =
        environment.scheduler != nullptr ? *environment.scheduler : ModelExecutionScheduler::shared();
    ModelExecutionSlotToken token;
    try {
        token = scheduler.reserveSlot(ModelExecutionPriority::localSummary, stop).get();
    } catch (const platform::CancellationError&) {
        throw;
    } catch (const std::exception& error) {
        logger().error("llama.cpp generation skipped: {}", error.what());
        return {};
    }
    SlotHold hold(scheduler, token);

    std::filesystem::path modelPath;
    try {
        modelPath = resolveModelPath(context.model, customModelPath, stop, environment.models);
    } catch (const std::exception& error) {
        logger().error("llama.cpp model unavailable: {}", error.what());
        throw;
    }
    logger().info("llama.cpp model path={}", modelPath.string());

    std::string text;
    try {
        text = generateLlamaOverview(context, modelPath, preferDirectSummary, stop, environment);
    } catch (const std::exception& error) {
        logger().error("llama.cpp generation failed: {}", error.what());
        // A cancelled summary ends as cancelled, not as a rule-based text the user did not wait for.
        if (stop.stop_requested() || dynamic_cast<const platform::CancellationError*>(&error) != nullptr)
            throw platform::CancellationError();
        return {};
    }
    if (text.empty())
        logger().error("llama.cpp returned empty text, fallback to rule-based overview");
    return sanitizeGeneratedOverview(text);
}

std::string mergeIntermediateNotes(const std::vector<std::string>& notes,
                                   const std::filesystem::path& modelPath,
                                   const std::string& intermediatePrompt, const std::string& outputLanguage,
                                   std::int64_t level, const GenerationProfile& profile,
                                   const std::string& model, std::stop_token stop,
                                   const Environment& environment) {
    if (notes.size() == 1)
        return notes.front();
    if (level > kDeepestMergeLevel) {
        std::vector<std::string> kept;
        for (const std::string& note : notes) {
            if (!looksLikeHallucinatedLoop(note))
                kept.push_back(note);
        }
        logger().error("merge depth exceeded limit ({}), concatenating remaining {}/{} notes without further "
                       "summarization",
                       kDeepestMergeLevel, kept.size(), notes.size());
        return platform::joined(kept, "\n");
    }
    const bool japanese = environment.language == InterfaceLanguage::japanese;
    const std::string system =
        buildOutputLanguageInstruction(outputLanguage) +
        (japanese ? "\n\n複数の中間ノートを統合せよ。完全一致の重複のみ削除し、一意な事実・数値・固有名詞・決"
                    "定事項・"
                    "アクションアイテムをすべて保持する。1行＝1項目。情報を追加・推測しない。"
                  : "\n\nMerge multiple intermediate notes.\nRemove only exact duplicates; retain all unique "
                    "facts, "
                    "numbers,\nproper nouns, decisions, and action items.\n1 line = 1 item.\nDo not add "
                    "information or inferences.");
    const std::string guidelines =
        "【" +
        L10n::localized("L10n.Summarization.intermediateNoteGuidelines", "Intermediate Note Guidelines") +
        "】\n" + compactIntermediateDirective(intermediatePrompt, "", environment.language) + "\n\n【" +
        L10n::localized("L10n.Summarization.mergeLevelInput", "Merge Level %d Input", {level}) + "】\n";
    const std::vector<std::string> batches = buildNoteChunks(notes, profile.mergeChunkByteLimit);
    std::vector<std::string> merged;
    for (std::size_t i = 0; i < batches.size(); ++i) {
        logger().info("merge summary chunk level={} index={}/{}", level, i + 1, batches.size());
        const std::string prompt = buildLlamaPrompt(guidelines + batches[i], system, model);
        std::string note = sanitizeGeneratedOverview(
            environment.generate(prompt, modelPath, profile.mergeSummaryMaxTokens, stop));
        if (!note.empty()) {
            merged.push_back(std::move(note));
        } else {
            logger().error(
                "merge note empty at level={} index={} — notes from this group will be excluded from "
                "further merging",
                level, i + 1);
        }
    }
    if (merged.empty())
        return {};
    return mergeIntermediateNotes(merged, modelPath, intermediatePrompt, outputLanguage, level + 1, profile,
                                  model, stop, environment);
}

std::vector<std::string> generateIntermediateNotes(const IntermediateNotesRequest& request,
                                                   std::stop_token stop, const Environment& environment) {
    std::vector<std::string> notes;
    const std::size_t count = request.sourceChunks.size();
    for (std::size_t i = 0; i < count; ++i) {
        const SummarySourceChunk& chunk = request.sourceChunks[i];
        const auto index = static_cast<std::int64_t>(i);
        logger().info("summarize source chunk index={}/{} label={}", i + 1, count, chunk.label);
        const std::string prompt = SummaryPromptBuilder::buildChunkCompressionPrompt(
            chunk, request.intermediatePrompt, request.outputLanguage, request.model, environment.language);
        try {
            saveIntermediateNoteInput(chunk, prompt, index, request.sessionDir);
        } catch (const std::exception& error) {
            logger().error("failed to save intermediate note input: {}", error.what());
        }
        std::string note = sanitizeGeneratedOverview(
            environment.generate(prompt, request.modelPath, request.profile.chunkSummaryMaxTokens, stop));
        if (note.empty()) {
            logger().error(
                "intermediate note empty for chunk index={} label={} — chunk content will be excluded from "
                "final summary",
                i + 1, chunk.label);
            continue;
        }
        saveIntermediateNote(note, chunk.label, index, request.sessionDir);
        notes.push_back(std::move(note));
    }
    return notes;
}

std::string buildLiveSummaryCombinedText(const std::string& transcript, const std::string& ocrContext,
                                         const std::string& previousSummary, std::int64_t inputByteLimit) {
    const std::string live = truncateFromHead(transcript, inputByteLimit);
    std::vector<std::string> sections;
    if (const std::int64_t room = inputByteLimit - byteCount(live); room >= kLiveSectionMinimumBytes) {
        const std::string previous = truncateFromTail(previousSummary, room);
        if (!platform::isBlank(previous))
            sections.push_back(
                "【" + L10n::localized("L10n.Summarization.previousLiveSummary", "Previous Live Summary") +
                "】\n" + previous);
    }
    sections.push_back("【" + L10n::localized("L10n.Summarization.liveTranscript", "Live Transcript") +
                       "】\n" + live);
    if (!platform::isBlank(ocrContext)) {
        const std::int64_t room = inputByteLimit - byteCount(platform::joined(sections, "\n\n"));
        if (room >= kLiveSectionMinimumBytes) {
            sections.push_back(
                "【" +
                L10n::localized("L10n.Summarization.ocrContextJsonlHeader",
                                "Screenshot OCR Context (JSONL Format)") +
                "】\n" +
                L10n::localized(
                    "L10n.Summarization.ocrContextJsonlStructureNote",
                    "Each line is one OCR record with timestamp, filename, text, is_manual,and results "
                    "(each with text and score).") +
                "\n" + truncateFromHead(ocrContext, room));
        }
    }
    return platform::joined(sections, "\n\n");
}

} // namespace velnote::LlamaSummarizationPipeline
