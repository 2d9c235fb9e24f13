#pragma once

#include "providers/pipeline/SummarizationRequest.h"

#include <optional>
#include <stop_token>
#include <string>

// The one provider call of every step of a chunked summary (chunk notes, merges, the final
// overview). Routes like the front, but both texts come from the calling step and the on-device
// model gets no language retry. Stateless; any thread; each call blocks its caller.
namespace velnote::RemoteAIChunkingPipeline {

// The provider settings of one chunk call. A plain value.
struct SummarizeChunkRequest {
    SummaryProvider provider = SummaryProvider::openAI;
    std::optional<std::string> providerModel{};
    std::optional<std::string> providerBaseURL{};
    std::optional<std::string> cliCommand{};
    std::optional<std::string> cliArgs{};

    static SummarizeChunkRequest from(const SummarizationRequest& request);
};

// How many requests one rate-limited chunk call makes in all.
inline constexpr int kRateLimitAttempts = 3;

// summarizeChunkOnce, tried again after an httpError whose text holds "status=429": three
// requests in all, waiting 1 s and then 2 s on the environment's clock between them; then the last
// 429 error. Every other failure passes through at once. A stop during a wait ends the call with
// CancellationError.
std::string summarizeChunk(const SummarizeChunkRequest& request, const std::string& systemPrompt,
                           const std::string& userPrompt, const RemoteSummaryEnvironment& environment,
                           std::stop_token stop = {});

// One call, no retries: the answer exactly as the client returned it.
std::string summarizeChunkOnce(const SummarizeChunkRequest& request, const std::string& systemPrompt,
                               const std::string& userPrompt, const RemoteSummaryEnvironment& environment,
                               std::stop_token stop = {});

// Whether `error` is an httpError that reports a rate limit ("status=429" in its text).
bool isRateLimitError(const std::exception& error);

} // namespace velnote::RemoteAIChunkingPipeline
