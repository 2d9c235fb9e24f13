#pragma once

#include "platform/concurrency/Clock.h"
#include "processing/queue/SessionSummaryService.h"
#include "processing/transcription/SessionTranscriptionOutput.h"
#include "processing/transcription/TranscriptionRequest.h"
#include "session/config/SessionConfig.h"
#include "session/folder/SessionMetadata.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace velnote {

// Processes one session folder: takes "session.lock", runs the steps "session.json" still asks
// for (transcription, the diarization mark, the summary), records each step's progress there and
// releases the lock. Nothing escapes: cancellation and failures end as step states in
// "session.json" (except when the lock was lost to another holder), so the caller can always go
// on with the next session.
//
// The queue runs process() in a task on the shared pool; it blocks that thread while the
// transcription and summary services work. The object keeps no state between or during runs, so
// a run being cancelled may overlap the next one (the session lock keeps them apart per folder).
class SessionProcessor {
  public:
    // Transcribes the folder (blocking) and returns what the transcription pipeline returns;
    // throws platform::CancellationError when it gave up because `stop` was requested.
    using Transcribe = std::function<SessionTranscriptionOutput(
        const std::filesystem::path& sessionDir, const TranscriptionRequest& request,
        const SessionConfig& config, std::stop_token stop)>;
    // Takes "session.lock" of the folder for `step`; true when taken (SessionLock::acquire).
    using AcquireLock = std::function<bool(const std::filesystem::path& sessionDir, std::string_view step)>;

    struct Dependencies {
        // Every wait and every date written. nullptr = SystemClock::shared().
        platform::Clock* clock = nullptr;
        // Empty = SessionTranscriptionPipeline::shared().
        Transcribe transcribe;
        // nullptr = SessionSummaryService::installed() at each summary step.
        std::shared_ptr<SessionSummaryService> summary;
        // Empty = SessionLock::acquire on the run's clock.
        AcquireLock acquireLock;
        // Pause after each failed attempt to take the lock as "start" (three attempts).
        platform::Clock::Duration lockRetryDelay = std::chrono::seconds{1};
    };

    // What a run reports to its queue. Each is called on the run's thread, must not block, and may
    // be empty.
    struct Callbacks {
        // Steps changed: publish the status snapshots (unforced).
        std::function<void()> pushSnapshots;
        // The run ended with success or failure: post the completion notification.
        std::function<void(const std::filesystem::path& sessionDir)> notifyCompletion;
        // A summary step succeeded and wrote `summaryPath`.
        std::function<void(const std::filesystem::path& summaryPath)> summaryWritten;
    };

    SessionProcessor(Dependencies dependencies, Callbacks callbacks);

    // Processes `sessionDir`; `stop` cancels it at the lock waits, before transcription, before
    // the summary and inside the services. Never throws. Thread-safe; may run concurrently.
    // False when it gave up waiting for the lock (taken elsewhere, or cancelled during the wait).
    bool process(const std::filesystem::path& sessionDir, std::stop_token stop) const;

  private:
    bool acquireStartLock(const std::filesystem::path& sessionDir, const std::stop_token& stop) const;
    void processSessionSteps(const std::filesystem::path& sessionDir, const SessionMetadata& meta,
                             const std::stop_token& stop) const;
    template <class Work>
    auto runStep(const std::filesystem::path& sessionDir, StepState SessionSteps::*step,
                 std::string_view lockName, Work work) const -> decltype(work());
    SessionTranscriptionOutput runTranscription(const std::filesystem::path& sessionDir,
                                                const SessionConfig& config,
                                                const std::stop_token& stop) const;
    void markDiarization(const std::filesystem::path& sessionDir,
                         const std::optional<std::string>& diarizationFailure) const;
    void runSummary(const std::filesystem::path& sessionDir, const std::filesystem::path& transcriptPath,
                    const SessionConfig& config, const std::stop_token& stop) const;
    void relock(const std::filesystem::path& sessionDir, std::string_view step) const;
    void handleCancellation(const std::filesystem::path& sessionDir) const;
    void handleProcessingFailure(const std::filesystem::path& sessionDir, const std::exception& error) const;
    void finish(const std::filesystem::path& sessionDir) const;
    std::chrono::sys_seconds now() const;

    platform::Clock& clock_;
    Transcribe transcribe_;
    std::shared_ptr<SessionSummaryService> summary_;
    AcquireLock acquireLock_;
    platform::Clock::Duration lockRetryDelay_;
    Callbacks callbacks_;
};

} // namespace velnote
