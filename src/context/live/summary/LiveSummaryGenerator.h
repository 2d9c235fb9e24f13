#pragma once

#include "providers/cli/CLIChatService.h"
#include "providers/pipeline/SummarizationRequest.h"
#include "session/config/SummaryProvider.h"
#include "summary/local/LlamaSummarizationPipeline.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace velnote {

// What one live-summary pass hands its provider. A plain value.
struct LiveSummaryRequest {
    std::string prompt{};           // the live-summary instruction (system prompt)
    std::string previous{};         // the previous live summary; empty before the first one
    std::string ocrContext{};       // "ocr_context.jsonl" lines of the window; may be empty
    std::string recentTranscript{}; // live transcript lines of the window
    std::string outputLanguage{};   // the session's output language setting
    std::optional<std::string> providerModel{};
    std::optional<std::string> providerBaseURL{};
};

// The local model the llama.cpp provider runs on.
struct LiveSummaryLocalModel {
    std::string model{};               // model id, e.g. "qwen2.5-7b-instruct-mlx-4bit"
    std::optional<std::string> path{}; // an explicit GGUF file, preferred when it exists
};

// Writes the text of one live summary with the session's provider: the local GGUF model, the
// on-device model, the Claude or Copilot command-line chat, or the remote summary pipeline for
// every other provider. Each road has its own prompt and its own fallback for an answer that is
// empty or an input that is too large; every final failure passes up unchanged.
//
// No state of its own: any thread, each call blocks its caller. The local road holds the model
// slot (localSummary) around its generation; the on-device model takes its own slot.
class LiveSummaryGenerator {
  public:
    struct Environment {
        LlamaSummarizationPipeline::Environment local; // generator, slot, model folders, interface language
        RemoteSummaryEnvironment remote;               // chat APIs, tools, on-device model, settings
        const CLIChatService* cli = nullptr;           // nullptr: CLIChatService::shared()

        static Environment standard();
    };

    LiveSummaryGenerator(); // on Environment::standard()
    explicit LiveSummaryGenerator(Environment environment);

    // The raw summary text of `provider`; the caller trims it.
    std::string makeLiveSummary(SummaryProvider provider, const LiveSummaryRequest& request,
                                const LiveSummaryLocalModel& localModel, std::stop_token stop = {}) const;

    // The roads, for tests.
    std::string makeLocalSummary(const LiveSummaryRequest& request, const LiveSummaryLocalModel& localModel,
                                 std::stop_token stop = {}) const;
    // `provider` is claudeCLI or copilotCLI.
    std::string makeCLIProviderSummary(SummaryProvider provider, const LiveSummaryRequest& request,
                                       std::stop_token stop = {}) const;
    std::string summarizeWithAppleLocalFallback(const std::string& transcript, const std::string& ocrContext,
                                                const std::string& previousSummary, const std::string& prompt,
                                                const std::string& outputLanguage,
                                                std::stop_token stop = {}) const;
    std::string makeRemoteSummary(SummaryProvider provider, const LiveSummaryRequest& request,
                                  std::stop_token stop = {}) const;

    // The text the local road sends as its user message (the body cut to the model's limit).
    std::string localUserMessage(const LiveSummaryRequest& request, const std::string& localModel) const;

    // The trimmed text when it has at most `maxChars` characters; else its last `maxChars`
    // characters, from the first line start within them when there is one (trimmed again).
    static std::string reduceTranscriptContext(std::string_view text, std::int64_t maxChars);

    // The short message the recording window shows for a failed pass.
    static std::string liveSummaryUserMessage(const std::exception_ptr& failure);

  private:
    // The single request to the remote front, and the chunked pipeline once more when it answered
    // nothing or overflowed the model's context.
    std::string runWithChunkedFallback(const SummarizationRequest& request, const std::string& userPrompt,
                                       std::string_view providerText, const std::stop_token& stop) const;
    const CLIChatService& cli() const;

    Environment environment_;
};

} // namespace velnote
