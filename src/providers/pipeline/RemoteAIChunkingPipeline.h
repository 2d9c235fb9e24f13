#pragma once

#include "platform/settings/SettingsStore.h"
#include "providers/pipeline/ChunkCalls.h"
#include "summary/core/SummaryInputs.h"

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The chunked summary of a SummarizationRequest, for when one request to the provider is not
// enough (an empty answer or an exceeded context window): source chunks sized for the provider, one
// intermediate note per chunk (up to three requests at once), notes merged batch by batch and level
// by level, then the final overview from the merged notes. Each step gives ground instead of
// failing (a chunk halved or skipped, a batch kept unmerged, the screenshot list dropped, the merged
// notes returned) and reports it through the request's fallback recorder. Notes and their prompts
// are kept in the session's "intermediate" folder, and a note already there is taken over.
//
// Stateless; any thread. A call blocks its caller; the note requests run on threads of their own,
// all ended before the call returns. A stop on `stop` reaches every running request.
namespace velnote::RemoteAIChunkingPipeline {

// The sizes of one provider's chunked summary, in UTF-8 bytes.
struct ChunkSizes {
    std::int64_t sourceChunkBytes = 0;
    std::int64_t mergeBatchBytes = 0;
    std::int64_t maxOCRChunks = 0;
};
ChunkSizes chunkSizes(SummaryProvider provider);

// The input of one merge level. A plain value.
struct MergeRequest {
    std::vector<std::string> notes{};
    SummaryProvider provider = SummaryProvider::openAI;
    std::string intermediatePrompt{};
    std::string outputLanguage{};
    std::int64_t mergeByteLimit = 0;
    std::optional<std::string> providerModel{};
    std::optional<std::string> providerBaseURL{};
    std::optional<std::string> cliCommand{};
    std::optional<std::string> cliArgs{};
    std::optional<std::filesystem::path> sessionDir{};
    FallbackNoteSink fallbackRecorder{};
    std::int64_t level = 1; // 1 for the first level
};

// The deepest level that is merged; a ninth level joins its notes as they are.
inline constexpr std::int64_t kMaxMergeLevel = 8;
// The largest chunk text that is never halved.
inline constexpr std::size_t kLargestUnsplitChunkBytes = 1600;

// The raw final text; emptyResponse when there is no source chunk or no chunk note is left, and
// every provider error other than a context limit unchanged.
std::string chunkedSummarize(const SummarizationRequest& request, const RemoteSummaryEnvironment& environment,
                             std::stop_token stop = {});

// How many note requests run at once on a machine with `processors` active processors:
// min(processors / 2, 3), at least 1.
std::size_t noteConcurrencyLimit(unsigned processors);

// The notes of the chunks in chunk order, empty ones left out; at most `maxConcurrency` chunks at
// once, started in index order. The first failure stops the others and is thrown.
std::vector<std::string> buildIntermediateNotes(const SummarizationRequest& request,
                                                const std::vector<SummarySourceChunk>& sourceChunks,
                                                std::size_t maxConcurrency,
                                                const RemoteSummaryEnvironment& environment,
                                                std::stop_token stop = {});

// The sanitised note of one chunk; halved and retried while it overflows and is long enough,
// otherwise skipped (std::nullopt). `chunkNumber` counts from 1 and names the chunk in notes.
std::optional<std::string> summarizeChunkWithSplitRetry(const SummarySourceChunk& chunk,
                                                        const SummarizationRequest& request,
                                                        std::int64_t chunkNumber,
                                                        const RemoteSummaryEnvironment& environment,
                                                        std::stop_token stop = {});

// The chunk cut at a line feed near its middle character, both halves trimmed and labelled
// "<label> (1/2)" and "<label> (2/2)"; std::nullopt for a text of 1600 bytes or less, or when a
// half would be empty.
std::optional<std::pair<SummarySourceChunk, SummarySourceChunk>>
splitChunkInHalf(const SummarySourceChunk& chunk);

// The final prompt on the chunk's text, answered unchanged; every failure ends it.
std::string summarizeSingleSourceChunk(const SummarySourceChunk& chunk, const SummarizationRequest& request,
                                       const std::optional<std::string>& timeRange,
                                       const RemoteSummaryEnvironment& environment,
                                       std::stop_token stop = {});

// One text from the notes: merged level by level until one note is left, joined with "\n" when a
// level would not shrink them or the deepest level is passed.
std::string mergeIntermediateNotesForAPI(const MergeRequest& request,
                                         const RemoteSummaryEnvironment& environment,
                                         std::stop_token stop = {});

// One merged note per batch, in batch order, the batches merged one after the other.
std::vector<std::string> mergeNoteChunks(const std::vector<std::string>& batches, const MergeRequest& request,
                                         const RemoteSummaryEnvironment& environment,
                                         std::stop_token stop = {});

// The final overview of the merged notes; on a context limit once more without the screenshot
// list (when the request has one), then the merged notes themselves.
std::string summarizeFinalOverview(const SummarizationRequest& request, const std::string& mergedNotes,
                                   const std::optional<std::string>& timeRange,
                                   const RemoteSummaryEnvironment& environment, std::stop_token stop = {});

// The system and user texts of the final overview (and of the single-chunk summary) on `notes`.
struct FinalPrompt {
    std::string system{};
    std::string user{};
};
enum class ScreenshotList { allowed, leftOut };
FinalPrompt finalPrompt(const SummarizationRequest& request, std::string_view notes,
                        const std::optional<std::string>& timeRange, ScreenshotList screenshots,
                        platform::SettingsStore& settings);

} // namespace velnote::RemoteAIChunkingPipeline
