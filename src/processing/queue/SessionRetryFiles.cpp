#include "processing/queue/SessionRetryFiles.h"

#include "capture/mixer/AudioChunkNames.h"
#include "platform/fs/Files.h"
#include "processing/queue/QueueLogging.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"

#include <optional>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;

namespace {

using queue_logging::log;
using queue_logging::nameOf;

void resetIf(StepState& step, std::initializer_list<StepStatus> from) {
    for (const StepStatus status : from) {
        if (step.status == status) {
            step = StepState::fresh(StepStatus::pending);
            return;
        }
    }
}

bool hasLock(const fs::path& dir) {
    std::error_code ec;
    return fs::exists(SessionLock::fileIn(dir), ec);
}

// Removes "intermediate" when present; the error text when that failed.
std::optional<std::string> removeIntermediate(const fs::path& sessionDir, bool& removed) {
    const fs::path intermediate = sessionDir / "intermediate";
    std::error_code ec;
    removed = false;
    if (!fs::exists(intermediate, ec))
        return std::nullopt;
    fs::remove_all(intermediate, ec);
    if (ec)
        return ec.message();
    removed = true;
    return std::nullopt;
}

void clearTranscriptionChunkCache(const fs::path& sessionDir,
                                  const SessionRetryFiles::ClearChunkCaches& clearChunkCaches) {
    std::vector<fs::path> chunks;
    std::error_code ec;
    for (const auto& entry :
         platform::listDirectory(sessionDir / "audio", platform::HiddenEntries::include, ec)) {
        if (AudioChunkNames::isWav(entry))
            chunks.push_back(entry);
    }
    // An audio folder that cannot be listed leaves the cache as it is, silently.
    if (ec || chunks.empty() || !clearChunkCaches)
        return;
    clearChunkCaches(chunks);
    log().info("cleared transcription chunk cache for retry: {} chunks={}", nameOf(sessionDir),
               chunks.size());
}

} // namespace

void SessionRetryFiles::resetRetrySessionMetadata(const fs::path& sessionDir) {
    SessionMetadataStore::update(sessionDir, [](SessionMetadata& m) {
        resetIf(m.steps.transcription, {StepStatus::running, StepStatus::failed});
        resetIf(m.steps.summary, {StepStatus::running, StepStatus::failed});
        m.manuallyStopped = false;
    });
}

void SessionRetryFiles::cleanupRetryArtifacts(const fs::path& sessionDir, const platform::Clock& clock,
                                              const ClearChunkCaches& clearChunkCaches) {
    bool removed = false;
    if (const auto error = removeIntermediate(sessionDir, removed))
        log().error("failed to remove intermediate notes: {}", *error);
    else if (removed)
        log().info("removed intermediate notes for retry: {}", nameOf(sessionDir));
    if (hasLock(sessionDir)) {
        try {
            SessionLock::clearStale(sessionDir, clock);
        } catch (const std::exception& error) {
            log().error("failed to clear stale lock for retry: {}: {}", nameOf(sessionDir), error.what());
        }
    }
    clearTranscriptionChunkCache(sessionDir, clearChunkCaches);
}

bool SessionRetryFiles::shouldDeferRetryUntilNightlyBatch(const fs::path& sessionDir) {
    if (!SessionMetadataStore::read(sessionDir).config.system.nightlyBatch)
        return false;
    log().info("session marked nightly-only; retry deferred until nightly batch: {}", nameOf(sessionDir));
    return true;
}

void SessionRetryFiles::prepareSummaryRetry(const fs::path& sessionDir, const platform::Clock& clock) {
    try {
        SessionMetadataStore::update(sessionDir, [](SessionMetadata& m) {
            m.steps.summary = StepState::fresh(StepStatus::pending);
            m.manuallyStopped = false;
        });
    } catch (const std::exception& error) {
        log().error("failed to reset summary step for retry: {}", error.what());
    }
    bool removed = false;
    if (const auto error = removeIntermediate(sessionDir, removed))
        log().error("failed to remove intermediate notes: {}: {}", nameOf(sessionDir), *error);
    if (hasLock(sessionDir)) {
        try {
            SessionLock::clearStale(sessionDir, clock);
        } catch (const std::exception& error) {
            log().error("failed to clear stale lock for summary retry: {}: {}", nameOf(sessionDir),
                        error.what());
        }
    }
}

void SessionRetryFiles::markStopped(const fs::path& sessionDir) {
    try {
        SessionMetadataStore::update(sessionDir, [](SessionMetadata& m) {
            resetIf(m.steps.transcription, {StepStatus::running});
            resetIf(m.steps.summary, {StepStatus::running});
            m.manuallyStopped = true;
        });
    } catch (const std::exception& error) {
        log().error("failed to reset step status on stop: {}", error.what());
    }
}

} // namespace velnote
