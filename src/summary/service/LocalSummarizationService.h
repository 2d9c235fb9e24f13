#pragma once

#include "platform/concurrency/Clock.h"
#include "processing/queue/SessionSummaryService.h"
#include "providers/pipeline/SummarizationRequest.h"
#include "session/config/SessionConfig.h"
#include "session/config/SummaryProvider.h"
#include "summary/core/InterfaceLanguage.h"
#include "summary/core/SummaryFallbackRecorder.h"
#include "summary/core/SummaryInputs.h"
#include "summary/core/SummaryRequests.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

namespace velnote {

// The inputs of one summary run.
struct SummaryBuildContext {
    SummaryProvider provider = SummaryProvider::llamaCppLocal;
    std::filesystem::path sessionDir{};
    std::string transcript{};
    std::string liveTranscript{};                   // "" when unreadable
    std::string ocrContext{};                       // "" when unreadable
    std::optional<std::string> screenshotContext{}; // the screenshot list, when there are screenshots
    SummaryContext segmentContext{};                // the transcript's meaningful segments
    std::string model{};                            // the configuration's local model name
    std::string summaryPrompt{};                    // with the user's note and the output-format block
    std::string intermediatePrompt{};
    std::string outputLanguage{}; // normalised
    SessionConfig config{};
};

// What writing the summary needs.
struct SummaryFinalizationRequest {
    std::string summary{}; // the provider's answer
    SummaryProvider provider = SummaryProvider::llamaCppLocal;
    std::string model{}; // the recorded model name
    std::filesystem::path sessionDir{};
    SessionConfig config{};
    const SummaryFallbackRecorder* fallbackRecorder = nullptr; // never null
    bool hasScreenshotContext = false;                         // the screenshot list is present and not blank
};

// The summary step of a recorded session: picks the provider (refusing a command-line tool in the
// store flavour), reads the transcript, the live transcript, the OCR context and the screenshot
// list, routes the local GGUF provider to the local pipeline and every other one to the remote
// front (once more through the chunked pipeline when it answered nothing or overflowed), rejects
// an answer that only talks about a summary, and writes "summary.md" (after archiving the previous
// one), "summary_config.json", the embedded screenshots and the headline and fallback notes in
// "session.json".
//
// Called on a processing task's thread, which it blocks; runs may overlap only in their model
// work: writing the files is one at a time. A stop ends the run with CancellationError and
// writes nothing.
class LocalSummarizationService final : public SessionSummaryService {
  public:
    // The local road: the summary text of a local run, or the model-file errors and
    // CancellationError.
    using LocalSummary =
        std::function<std::string(const GenerativeSummaryContext& context, bool preferDirectSummary,
                                  const std::optional<std::string>& customModelPath, std::stop_token stop)>;

    // What the service runs on; tests swap each part.
    struct Environment {
        RemoteSummaryEnvironment remote;
        LocalSummary localSummary;
        InterfaceLanguage language = InterfaceLanguage::english; // of the local output-format block
        platform::Clock* clock = nullptr;                        // archive names; nullptr: the system clock

        // The process's providers, the local pipeline and the interface language.
        static Environment standard();
    };

    explicit LocalSummarizationService(Environment environment);

    // The instance on the standard environment, created on first use.
    static std::shared_ptr<LocalSummarizationService> shared();

    std::filesystem::path summarizeSession(const std::filesystem::path& sessionDir,
                                           const std::filesystem::path& transcriptPath,
                                           const SessionConfig& config, std::stop_token stop) override;

    // The provider's answer, before any parsing.
    std::string buildSummary(const SummaryBuildContext& context, SummaryFallbackRecorder& fallbackRecorder,
                             std::stop_token stop);

    // Writes the files and returns the path of "summary.md"; only the first write of "summary.md"
    // fails the step.
    std::filesystem::path finalizeSummary(const SummaryFinalizationRequest& request);

    // The configured provider (the local one for any text that is not exactly a stored value);
    // NativeSummarizationError cliUnavailableInAppStore for a command-line tool when the build
    // flavour's override selects the store flavour.
    static SummaryProvider resolveSummaryProvider(const SessionConfig& config);

  private:
    std::string buildRemoteSummary(const SummaryBuildContext& context,
                                   SummaryFallbackRecorder& fallbackRecorder,
                                   const std::stop_token& stop) const;

    Environment environment_;
    std::mutex finalizing_; // one run writes its files at a time
};

// The start-up call of the shell: installs LocalSummarizationService::shared() as the summary
// step of the processing queue.
void installSessionSummaryService();

} // namespace velnote
