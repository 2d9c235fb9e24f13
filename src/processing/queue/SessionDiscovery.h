#pragma once

#include "platform/concurrency/Clock.h"
#include "session/folder/SessionMetadata.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace velnote {

// Which sessions a full scan queues: the regular scans leave the sessions marked for the nightly
// batch alone, the nightly batch's scan takes only those.
enum class ScanScope { regular, nightlyOnly };

// What the scans of the working-sessions folder decide about each session folder: which ones
// have work left (including the automatic retry of failed steps), and the repair of stale locks
// and of steps left "running" by a process that is gone. The processing queue owns the lists and
// asks these questions on its executor; the object itself keeps no state.
//
// A session whose lock belongs to a live process (this one included) is never repaired or
// queued. "session.json" is only read here; every repair goes through SessionLock::clearStale,
// which writes under the process-wide metadata lock.
class SessionDiscovery {
  public:
    // A failed transcription or summary is queued again while its retry count is at most this.
    static constexpr std::int64_t kMaxAutomaticRetryCount = 2;

    // `clock`: the time compared with a failure's completion and the lock's age; must outlive
    // the object. `retryAfterFailure`: how long after a failure its step is queued again.
    SessionDiscovery(const platform::Clock& clock, platform::Clock::Duration retryAfterFailure);

    // The folders directly in `baseDir` (hidden entries, plain files and links left out), in the
    // file system's order. When the folder cannot be listed, logs "<failureMessage>: <name>:
    // <error>" and returns none.
    static std::vector<std::filesystem::path> listSessionFolders(const std::filesystem::path& baseDir,
                                                                 std::string_view failureMessage);
    // True only for a folder; an attribute that cannot be read is logged and counts as false.
    static bool isDirectory(const std::filesystem::path& path);

    // A step still to run: pending (any step), or a failed transcription or summary whose retry
    // count is at most kMaxAutomaticRetryCount and whose failure is at least retryAfterFailure old
    // (or has no time). A failed diarization is not retried: nothing could redo it by itself.
    bool hasPendingStep(const SessionMetadata& meta) const;

    // The full scan's verdict (start-up, every few minutes, the nightly batch): true when the
    // folder should be appended to the pending list. Clears a stale lock and repairs steps left
    // running on the way. `isPending` / `isRunning`: whether the queue already has it.
    bool shouldEnqueuePendingSession(const std::filesystem::path& dir, ScanScope scope, bool isPending,
                                     bool isRunning) const;
    // The change scan's verdict (after the working folder changed); logs what it queues or
    // leaves to the nightly batch.
    bool shouldEnqueueOnChange(const std::filesystem::path& dir, bool isPending, bool isRunning) const;

    // Start-up repair: every session folder in `baseDir` with a step "running" and no live lock
    // is repaired (SessionLock::clearStale).
    void resetOrphanedRunningStates(const std::filesystem::path& baseDir) const;

  private:
    std::optional<SessionMetadata>
    recoverOrphanedRunningStateIfNeeded(const std::filesystem::path& dir,
                                        std::optional<SessionMetadata> currentMeta) const;
    bool checkAndClearStaleLock(const std::filesystem::path& dir) const;
    bool failedStepIsDue(const StepState& step, std::chrono::sys_seconds now) const;

    const platform::Clock& clock_;
    platform::Clock::Duration retryAfterFailure_;
};

} // namespace velnote
