#pragma once

#include "platform/concurrency/Clock.h"

#include <filesystem>
#include <functional>
#include <vector>

namespace velnote {

// The file work of the user's retry and stop actions on one session folder. The processing
// queue calls these on its executor, only for a session it is not processing. Every change of
// "session.json" is one SessionMetadataStore::update; failures are logged (category
// "processing") and the action goes on, except where a function says it throws.
class SessionRetryFiles {
  public:
    // Forgets the cached speech results of the given chunk files.
    using ClearChunkCaches = std::function<void(const std::vector<std::filesystem::path>& chunks)>;

    SessionRetryFiles() = delete;

    // Retry after a failure: transcription and summary "running" or "failed" become fresh pending
    // (retry count 0), the stopped mark is cleared. Throws the update's error.
    static void resetRetrySessionMetadata(const std::filesystem::path& sessionDir);
    // Removes "intermediate", clears "session.lock" without a staleness test (settling steps left
    // running) and forgets the speech cache of every ".wav" in "audio".
    static void cleanupRetryArtifacts(const std::filesystem::path& sessionDir, const platform::Clock& clock,
                                      const ClearChunkCaches& clearChunkCaches);
    // True when the session's configuration leaves it to the nightly batch (logged). Throws when
    // "session.json" cannot be read.
    static bool shouldDeferRetryUntilNightlyBatch(const std::filesystem::path& sessionDir);

    // Summary-only retry: the summary becomes fresh pending whatever its state, the stopped mark is
    // cleared, "intermediate" is removed and "session.lock" cleared. The speech cache is kept.
    static void prepareSummaryRetry(const std::filesystem::path& sessionDir, const platform::Clock& clock);

    // After a stop: transcription and summary "running" become fresh pending and the session is
    // marked stopped by hand.
    static void markStopped(const std::filesystem::path& sessionDir);
};

} // namespace velnote
