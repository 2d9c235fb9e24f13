#pragma once

#include "platform/concurrency/Clock.h"
#include "providers/core/ProviderEnvironment.h"
#include "session/config/SummaryProvider.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace velnote {

class AppleFoundationModelService;

// Receives one fallback note ("provider=openai;strategy=chunk_split;chunk=2"); called from any
// thread, possibly from several at once.
using FallbackNoteSink = std::function<void(const std::string&)>;

// The input of one summary by a remote, on-device or command-line back-end, single-shot or
// chunked. A plain value.
struct SummarizationRequest {
    SummaryProvider provider = SummaryProvider::openAI;
    std::string transcript{};
    std::string liveTranscript{};                   // may be empty
    std::string ocrContext{};                       // one "ocr_context.jsonl" record per line; may be empty
    std::string summaryPrompt{};                    // the system prompt of the summary
    std::string outputLanguage{};                   // a normalised code ("ja", "en", …); may be empty
    std::optional<std::string> additionalContext{}; // the user's own instructions
    std::optional<std::string> screenshotContext{}; // the screenshot list with its placeholders
    std::optional<std::string> providerModel{};     // none: the back-end's setting or default
    std::optional<std::string> providerBaseURL{};
    std::optional<std::string> cliCommand{};
    std::optional<std::string> cliArgs{};
    bool preferDirectAppleLocalSummary = false;        // handed to the on-device service, which ignores it
    std::string intermediatePrompt{};                  // directive of the chunk notes; may be empty
    std::optional<std::filesystem::path> sessionDir{}; // where chunk notes are kept; none keeps none
    FallbackNoteSink fallbackRecorder{};               // may be empty
};

// What the remote summaries talk through. The application uses standard(); tests swap the
// provider environment, the on-device service, the clock of the rate-limit waits and the
// processor count. Cheap to copy; every member is thread-safe.
struct RemoteSummaryEnvironment {
    ProviderEnvironment providers;
    const AppleFoundationModelService* onDevice = nullptr; // nullptr: the shared service
    platform::Clock* clock = nullptr;                      // nullptr: the system clock
    unsigned processorCount = 0;                           // active processors; 0: the machine's own count

    static RemoteSummaryEnvironment standard();

    const AppleFoundationModelService& onDeviceService() const;
    platform::Clock& waitClock() const;
    unsigned processors() const;
};

} // namespace velnote
