#include "processing/queue/SessionDiscovery.h"

#include "platform/fs/Files.h"
#include "processing/queue/QueueLogging.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"

#include <system_error>

namespace velnote {
namespace fs = std::filesystem;

namespace {

using queue_logging::log;
using queue_logging::nameOf;

bool pathExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

bool hasMetadata(const fs::path& dir) {
    return pathExists(SessionMetadataStore::fileIn(dir));
}

bool hasLock(const fs::path& dir) {
    return pathExists(SessionLock::fileIn(dir));
}

bool isRunning(const StepState& step) {
    return step.status == StepStatus::running;
}

} // namespace

SessionDiscovery::SessionDiscovery(const platform::Clock& clock, platform::Clock::Duration retryAfterFailure)
    : clock_(clock), retryAfterFailure_(retryAfterFailure) {}

std::vector<fs::path> SessionDiscovery::listSessionFolders(const fs::path& baseDir,
                                                           std::string_view failureMessage) {
    std::error_code ec;
    const auto entries = platform::listDirectory(baseDir, platform::HiddenEntries::skip, ec);
    if (ec) {
        log().error("{}: {}: {}", failureMessage, nameOf(baseDir), ec.message());
        return {};
    }
    std::vector<fs::path> folders;
    for (const auto& path : entries) {
        if (isDirectory(path))
            folders.push_back(path);
    }
    return folders;
}

bool SessionDiscovery::isDirectory(const fs::path& path) {
    std::error_code ec;
    const auto status = fs::symlink_status(path, ec);
    if (ec && status.type() != fs::file_type::not_found) {
        log().error("failed to query directory attribute for {}: {}", path.string(), ec.message());
        return false;
    }
    return status.type() == fs::file_type::directory;
}

bool SessionDiscovery::hasPendingStep(const SessionMetadata& meta) const {
    const auto now = std::chrono::floor<std::chrono::seconds>(clock_.wallNow());
    const auto& steps = meta.steps;
    for (const StepState* step : {&steps.transcription, &steps.summary}) {
        if (step->status == StepStatus::pending || failedStepIsDue(*step, now))
            return true;
    }
    return steps.diarization.status == StepStatus::pending;
}

bool SessionDiscovery::failedStepIsDue(const StepState& step, std::chrono::sys_seconds now) const {
    if (step.status != StepStatus::failed || step.retryCount > kMaxAutomaticRetryCount)
        return false;
    return !step.completedAt || now >= *step.completedAt + retryAfterFailure_;
}

bool SessionDiscovery::shouldEnqueuePendingSession(const fs::path& dir, ScanScope scope, bool isPending,
                                                   bool isRunning) const {
    if (!hasMetadata(dir) || isPending)
        return false;
    if (hasLock(dir) && SessionLock::isStale(dir, clock_)) {
        try {
            SessionLock::clearStale(dir, clock_);
            log().notice("stale lock cleared: {}", nameOf(dir));
        } catch (const std::exception& error) {
            log().error("failed to clear stale lock during scan: {}: {}", nameOf(dir), error.what());
        }
    }
    if (!hasLock(dir) && !isRunning)
        recoverOrphanedRunningStateIfNeeded(dir, std::nullopt);
    // A live lock: someone processes it. A stale one that could not be cleared keeps it out too.
    if (hasLock(dir))
        return false;
    SessionMetadata meta;
    try {
        meta = SessionMetadataStore::read(dir);
    } catch (const std::exception& error) {
        log().error("failed to read session metadata during scan: {}: {}", nameOf(dir), error.what());
        return false;
    }
    if (meta.manuallyStopped || meta.config.system.nightlyBatch != (scope == ScanScope::nightlyOnly))
        return false;
    return hasPendingStep(meta);
}

bool SessionDiscovery::shouldEnqueueOnChange(const fs::path& dir, bool isPending, bool isRunning) const {
    if (!hasMetadata(dir) || !checkAndClearStaleLock(dir) || isPending || isRunning)
        return false;
    std::optional<SessionMetadata> meta;
    try {
        meta = SessionMetadataStore::read(dir);
    } catch (const std::exception& error) {
        log().error("failed to read session metadata on directory change: {}: {}", nameOf(dir), error.what());
        return false;
    }
    if (auto recovered = recoverOrphanedRunningStateIfNeeded(dir, meta))
        meta = std::move(recovered);
    // Stopped by hand: left alone, like the full scans do, until the user retries it.
    if (meta->manuallyStopped || !hasPendingStep(*meta))
        return false;
    if (meta->config.system.nightlyBatch) {
        log().info("session marked nightly-only; skipping immediate enqueue: {}", nameOf(dir));
        return false;
    }
    log().info("new session enqueued: {}", nameOf(dir));
    return true;
}

void SessionDiscovery::resetOrphanedRunningStates(const fs::path& baseDir) const {
    for (const auto& dir : listSessionFolders(baseDir, "failed to list base directory")) {
        if (!hasMetadata(dir) || (hasLock(dir) && !SessionLock::isStale(dir, clock_)))
            continue;
        SessionMetadata meta;
        try {
            meta = SessionMetadataStore::read(dir);
        } catch (const std::exception& error) {
            log().error("failed to read session metadata: {}: {}", nameOf(dir), error.what());
            continue;
        }
        const auto& steps = meta.steps;
        if (!isRunning(steps.transcription) && !isRunning(steps.diarization) && !isRunning(steps.summary))
            continue;
        try {
            SessionLock::clearStale(dir, clock_);
            log().notice("orphaned running state reset on startup: {}", nameOf(dir));
        } catch (const std::exception& error) {
            log().error("failed to clear stale lock: {}: {}", nameOf(dir), error.what());
        }
    }
}

std::optional<SessionMetadata>
SessionDiscovery::recoverOrphanedRunningStateIfNeeded(const fs::path& dir,
                                                      std::optional<SessionMetadata> currentMeta) const {
    if (!currentMeta) {
        try {
            currentMeta = SessionMetadataStore::read(dir);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    // Diarization alone is never left running by this system, so it does not call for a repair.
    if (!isRunning(currentMeta->steps.transcription) && !isRunning(currentMeta->steps.summary))
        return std::nullopt;
    try {
        SessionLock::clearStale(dir, clock_);
        auto recovered = SessionMetadataStore::read(dir);
        log().notice("recovered orphaned running state: {}", nameOf(dir));
        return recovered;
    } catch (const std::exception&) {
        log().error("failed to recover orphaned running state: {}", nameOf(dir));
        return std::nullopt;
    }
}

bool SessionDiscovery::checkAndClearStaleLock(const fs::path& dir) const {
    if (!hasLock(dir))
        return true;
    if (!SessionLock::isStale(dir, clock_))
        return false;
    try {
        SessionLock::clearStale(dir, clock_);
        log().notice("cleared stale lock during scan: {}", nameOf(dir));
        return true;
    } catch (const std::exception&) {
        log().error("failed to clear stale lock: {}", nameOf(dir));
        return false;
    }
}

} // namespace velnote
