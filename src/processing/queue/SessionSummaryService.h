#pragma once

#include "session/config/SessionConfig.h"

#include <filesystem>
#include <memory>
#include <stop_token>

namespace velnote {

// The summary step of a session's processing: builds the session's summary from its transcript
// and other context with the provider, model and prompts of `config.summary`, and writes
// "summary.md" into the folder. The summarization engine implements it and installs its instance
// at launch.
class SessionSummaryService {
  public:
    virtual ~SessionSummaryService() = default;

    // Blocks the calling thread (a processing task on the shared pool) until the summary is
    // written and returns the path of "summary.md". `transcriptPath` is the session's
    // "transcript.txt" or the path the transcription just returned. Throws the failure, whose
    // what() becomes the step's error text; throws platform::CancellationError when it gave up
    // because `stop` was requested.
    virtual std::filesystem::path summarizeSession(const std::filesystem::path& sessionDir,
                                                   const std::filesystem::path& transcriptPath,
                                                   const SessionConfig& config, std::stop_token stop) = 0;

    // The instance processing uses; nullptr until one is installed (a summary step then fails).
    // Both calls are thread-safe.
    static std::shared_ptr<SessionSummaryService> installed();
    static void install(std::shared_ptr<SessionSummaryService> service);
};

} // namespace velnote
