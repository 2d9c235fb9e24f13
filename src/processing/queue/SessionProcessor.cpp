#include "processing/queue/SessionProcessor.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/StoppableSleep.h"
#include "platform/concurrency/SystemClock.h"
#include "processing/queue/QueueLogging.h"
#include "processing/transcription/SessionTranscriptionPipeline.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"

#include <stdexcept>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;

namespace {

constexpr int kStartLockAttempts = 3;

// The session lock could not be taken again under the next step's name: another holder has it.
class LockError : public std::runtime_error {
  public:
    LockError() : std::runtime_error("Failed to acquire session lock") {}
};

using queue_logging::log;
using queue_logging::nameOf;

bool needsRun(const StepState& step) {
    return step.status == StepStatus::pending || step.status == StepStatus::failed;
}

void resetToPendingIfInterrupted(StepState& step) {
    if (step.status == StepStatus::running || step.status == StepStatus::failed)
        step = StepState::fresh(StepStatus::pending);
}

// The fallback after a failure whose step could not record it: the step's end stays unknown.
void failIfStillRunning(StepState& step, const std::string& error) {
    if (step.status == StepStatus::running)
        step.markFailed(error, std::nullopt);
}

template <class F> void call(const F& callback, const auto&... args) {
    if (callback)
        callback(args...);
}

SessionTranscriptionOutput transcribeWithSharedPipeline(const fs::path& sessionDir,
                                                        const TranscriptionRequest& request,
                                                        const SessionConfig& config, std::stop_token stop) {
    auto task = SessionTranscriptionPipeline::shared().runPipeline(sessionDir, request, config);
    std::stop_callback cancelPipeline(stop, [&task] { task.cancel(); });
    return task.get();
}

} // namespace

SessionProcessor::SessionProcessor(Dependencies dependencies, Callbacks callbacks)
    : clock_(dependencies.clock ? *dependencies.clock : platform::SystemClock::shared()),
      transcribe_(dependencies.transcribe ? std::move(dependencies.transcribe)
                                          : Transcribe(transcribeWithSharedPipeline)),
      summary_(std::move(dependencies.summary)), acquireLock_(std::move(dependencies.acquireLock)),
      lockRetryDelay_(dependencies.lockRetryDelay), callbacks_(std::move(callbacks)) {
    if (!acquireLock_) {
        const platform::Clock* clock = &clock_;
        acquireLock_ = [clock](const fs::path& sessionDir, std::string_view step) {
            return SessionLock::acquire(sessionDir, step, *clock);
        };
    }
}

bool SessionProcessor::process(const fs::path& sessionDir, std::stop_token stop) const {
    const std::string name = nameOf(sessionDir);
    if (!acquireStartLock(sessionDir, stop)) {
        log().notice("lock acquire failed after retries (race), skip: {}", name);
        return false;
    }
    log().info("processing start: {}", name);
    try {
        const SessionMetadata meta = SessionMetadataStore::read(sessionDir);
        processSessionSteps(sessionDir, meta, stop);
        log().info("processing done: {}", name);
        finish(sessionDir);
    } catch (const LockError&) {
        // The lock file now belongs to whoever took it; leave it and the running step alone.
        log().notice("lock lost during processing, aborting: {}", name);
    } catch (const platform::CancellationError&) {
        handleCancellation(sessionDir);
    } catch (const std::exception& error) {
        handleProcessingFailure(sessionDir, error);
        finish(sessionDir);
    } catch (...) {
        handleProcessingFailure(sessionDir, std::runtime_error("unknown error"));
        finish(sessionDir);
    }
    return true;
}

bool SessionProcessor::acquireStartLock(const fs::path& sessionDir, const std::stop_token& stop) const {
    for (int attempt = 0; attempt < kStartLockAttempts; ++attempt) {
        const auto attemptedAt = clock_.now();
        if (acquireLock_(sessionDir, "start"))
            return true;
        // The pause follows the last attempt too, so a lock that stays taken costs about three delays.
        if (!platform::sleepUntil(clock_, attemptedAt + lockRetryDelay_, stop))
            return false;
    }
    return false;
}

void SessionProcessor::processSessionSteps(const fs::path& sessionDir, const SessionMetadata& meta,
                                           const std::stop_token& stop) const {
    platform::throwIfCancelled(stop);
    fs::path transcriptPath = sessionDir / "transcript.txt";
    std::optional<std::string> diarizationFailure;
    if (needsRun(meta.steps.transcription)) {
        auto output = runTranscription(sessionDir, meta.config, stop);
        transcriptPath = output.transcriptPath;
        diarizationFailure = std::move(output.diarizationFailure);
    }
    if (meta.steps.diarization.status == StepStatus::pending)
        markDiarization(sessionDir, diarizationFailure);
    platform::throwIfCancelled(stop);
    if (needsRun(meta.steps.summary))
        runSummary(sessionDir, transcriptPath, meta.config, stop);
}

template <class Work>
auto SessionProcessor::runStep(const fs::path& sessionDir, StepState SessionSteps::*step,
                               std::string_view lockName, Work work) const -> decltype(work()) {
    SessionMetadataStore::update(sessionDir, [&](SessionMetadata& m) {
        (m.steps.*step).status = StepStatus::running;
        (m.steps.*step).startedAt = now();
    });
    relock(sessionDir, lockName);
    try {
        auto result = work();
        SessionMetadataStore::update(sessionDir, [&](SessionMetadata& m) {
            (m.steps.*step).status = StepStatus::done;
            (m.steps.*step).completedAt = now();
        });
        return result;
    } catch (const platform::CancellationError&) {
        throw platform::CancellationError();
    } catch (const std::exception& error) {
        // When this record cannot be written either, its error is the one that ends the run.
        const std::string text = error.what();
        SessionMetadataStore::update(sessionDir,
                                     [&](SessionMetadata& m) { (m.steps.*step).markFailed(text, now()); });
        throw;
    }
}

SessionTranscriptionOutput SessionProcessor::runTranscription(const fs::path& sessionDir,
                                                              const SessionConfig& config,
                                                              const std::stop_token& stop) const {
    return runStep(sessionDir, &SessionSteps::transcription, "transcription", [&] {
        const auto& transcription = config.transcription;
        const TranscriptionRequest request{
            .sessionDir = sessionDir,
            .model = transcription.whisperModel,
            .language = SessionTranscriptionPipeline::resolvedInputLanguage(transcription.language),
            .diarizationEnabled = transcription.diarizationEnabled,
            .numberOfSpeakers = transcription.numberOfSpeakers,
            .micInputGain = config.audio.micInputGain,
            .sysInputGain = config.audio.sysInputGain};
        return transcribe_(sessionDir, request, config, stop);
    });
}

void SessionProcessor::markDiarization(const fs::path& sessionDir,
                                       const std::optional<std::string>& diarizationFailure) const {
    // The speaker labelling runs inside transcription; a back-end whose diarization failed still
    // returns lines, only without speakers. That outcome is recorded as a failed diarization, so
    // the session does not claim speaker labels it lacks. Scans never retry it by themselves.
    if (diarizationFailure)
        log().error("diarization fell back to lines without speakers: {} error={}", nameOf(sessionDir),
                    *diarizationFailure);
    const auto endedAt = now();
    SessionMetadataStore::update(sessionDir, [&](SessionMetadata& m) {
        auto& step = m.steps.diarization;
        if (m.config.transcription.diarizationEnabled && diarizationFailure) {
            step.markFailed(*diarizationFailure, endedAt);
            return;
        }
        step.status = m.config.transcription.diarizationEnabled ? StepStatus::done : StepStatus::skipped;
        step.completedAt = endedAt;
    });
}

void SessionProcessor::runSummary(const fs::path& sessionDir, const fs::path& transcriptPath,
                                  const SessionConfig& config, const std::stop_token& stop) const {
    const fs::path intermediate = sessionDir / "intermediate";
    std::error_code ec;
    if (fs::exists(intermediate, ec)) {
        fs::remove_all(intermediate, ec);
        if (ec)
            log().error("failed to clear intermediate cache: {}", ec.message());
    }
    const fs::path summaryPath = runStep(sessionDir, &SessionSteps::summary, "summary", [&] {
        const auto service = summary_ ? summary_ : SessionSummaryService::installed();
        if (!service)
            throw std::logic_error("no summary service is installed");
        return service->summarizeSession(sessionDir, transcriptPath, config, stop);
    });
    call(callbacks_.summaryWritten, summaryPath);
}

void SessionProcessor::relock(const fs::path& sessionDir, std::string_view step) const {
    SessionLock::release(sessionDir);
    if (!acquireLock_(sessionDir, step))
        throw LockError();
}

void SessionProcessor::handleCancellation(const fs::path& sessionDir) const {
    log().notice("processing cancelled, will retry: {}", nameOf(sessionDir));
    try {
        SessionMetadataStore::update(sessionDir, [](SessionMetadata& m) {
            resetToPendingIfInterrupted(m.steps.transcription);
            resetToPendingIfInterrupted(m.steps.summary);
        });
    } catch (const std::exception& error) {
        log().error("failed to reset step status after cancellation: {}", error.what());
    }
    SessionLock::release(sessionDir);
    call(callbacks_.pushSnapshots);
}

void SessionProcessor::handleProcessingFailure(const fs::path& sessionDir,
                                               const std::exception& error) const {
    const std::string text = error.what();
    log().error("processing failed: {} error={}", nameOf(sessionDir), text);
    const auto fallback = [&] {
        SessionMetadataStore::update(sessionDir, [&](SessionMetadata& m) {
            failIfStillRunning(m.steps.transcription, text);
            failIfStillRunning(m.steps.summary, text);
        });
    };
    try {
        fallback();
    } catch (const std::exception& first) {
        log().error("failed to persist failed step status, retrying once: {}", first.what());
        try {
            fallback();
        } catch (const std::exception& second) {
            log().error("failed to persist failed step status after retry, may stay stuck as running: {}: {}",
                        nameOf(sessionDir), second.what());
        }
    }
}

void SessionProcessor::finish(const fs::path& sessionDir) const {
    SessionLock::release(sessionDir);
    call(callbacks_.pushSnapshots);
    call(callbacks_.notifyCompletion, sessionDir);
}

std::chrono::sys_seconds SessionProcessor::now() const {
    return std::chrono::floor<std::chrono::seconds>(clock_.wallNow());
}

} // namespace velnote
