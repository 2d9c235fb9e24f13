#pragma once

#include "app/state/AppState.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/DirectoryWatcher.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/power/PowerStatus.h"
#include "processing/queue/ProcessingQueueHooks.h"
#include "processing/queue/SessionDiscovery.h"
#include "processing/queue/SessionProcessor.h"
#include "processing/queue/SessionRetryFiles.h"
#include "session/folder/SessionDirectoryResolver.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <vector>

namespace velnote {

// Decides which session folder is processed next and when, one session at a time.
//
// An actor: its state lives on its own SerialExecutor. The public operations may be called from
// any thread; they post to the executor and return a future that is ready once the operation has
// run (callers may drop it). Processing a session (SessionProcessor) runs as a task on the shared
// pool, at utility priority, or at background priority in power-saver mode or a serious or
// critical thermal state; its results come back to the executor.
//
// Who drives it: the shell starts it once on the working-sessions folder. The recording
// controller, at recording start: setActiveRecordingFolder(folder), then pause(); at stop:
// setActiveRecordingFolder(std::nullopt), resume(), then enqueue(folder). The scans of the
// working folder (at start, after the folder changes, every few minutes, for the nightly batch)
// queue what has work left; the user's retry and stop act on one session.
//
// Operations that later build on this actor post to executor() and use the state accessors and
// the on-executor operations below there.
class ProcessingQueue {
  public:
    // Every delay of the queue; tests shrink them.
    struct Timing {
        // The first session after launch waits until the machine has been up this long (the GPU
        // driver may still be initialising before).
        platform::Clock::Duration minimumUptime = std::chrono::seconds{90};
        // Period of the full scan of the working folder.
        platform::Clock::Duration periodicScanInterval = std::chrono::seconds{180};
        // A failed transcription or summary is queued again this long after it failed.
        platform::Clock::Duration retryAfterFailure = std::chrono::seconds{300};
        // Pause between the attempts to take a session's lock as "start".
        platform::Clock::Duration lockRetryDelay = std::chrono::seconds{1};
        // Requests to publish the snapshots closer than this give one publication.
        platform::Clock::Duration snapshotDebounce = std::chrono::milliseconds{300};
        // A burst of changes in the working folder gives one change scan this long after the last
        // (real time: the folder watcher's own).
        std::chrono::milliseconds watcherDebounce = platform::DirectoryWatcher::defaultDebounce;
    };

    // Every seam; nullptr or empty means the process-wide one named.
    struct Dependencies {
        // Every timer, delay and date; its clock is the queue's. TimerScheduler::shared().
        platform::TimerScheduler* timers = nullptr;
        // Low-power mode and thermal state, read anew for each session. SystemPowerStatus::shared().
        platform::PowerStatus* power = nullptr;
        // Time since the machine started. platform::systemUptime().
        std::function<platform::Clock::Duration()> uptime;
        // Where processing tasks run. The shared pool at utility / background priority.
        platform::Executor* utilityExecutor = nullptr;
        platform::Executor* backgroundExecutor = nullptr;
        // Where AppState is written. MainDispatcher::shared() and AppState::shared() (the latter
        // resolved on the main thread).
        platform::MainDispatcher* mainDispatcher = nullptr;
        AppState* appState = nullptr;
        // The services of a session's steps and its lock. SessionTranscriptionPipeline::shared(),
        // SessionSummaryService::installed(), SessionLock::acquire.
        SessionProcessor::Transcribe transcribe;
        std::shared_ptr<SessionSummaryService> summary;
        SessionProcessor::AcquireLock acquireLock;
        // Forgets the speech cache of chunk files on a retry. SpeechResultCache().clearChunkCaches.
        SessionRetryFiles::ClearChunkCaches clearChunkCaches;
        Timing timing;
    };

    explicit ProcessingQueue(Dependencies dependencies);
    ProcessingQueue(); // every dependency process-wide
    // Stops the timers and the watcher, cancels every processing task and waits for them to end.
    // Must not be called on the executor.
    ~ProcessingQueue();

    ProcessingQueue(const ProcessingQueue&) = delete;
    ProcessingQueue& operator=(const ProcessingQueue&) = delete;

    // The process's queue, created on first use and never destroyed.
    static ProcessingQueue& shared();

    // --- Operations, from any thread ---

    // Start-up: repairs steps left running, scans `baseDir` (the working-sessions folder), watches
    // it, starts the periodic scan and drains once the machine has been up long enough.
    // `userDirResolver`: the saved-sessions folder for later operations; empty =
    // SessionDirectoryResolver::resolveUserDir().
    std::future<void> start(const std::filesystem::path& baseDir,
                            std::function<ResolvedDirectory()> userDirResolver = {});
    // A stopped recording's folder: appended and drained, unless already pending or running or
    // left to the nightly batch by its configuration.
    std::future<void> enqueue(const std::filesystem::path& sessionDir);
    // Cancels the running session (its folder goes back to the front of the pending list) and
    // starts nothing until resume().
    std::future<void> pause();
    std::future<void> resume();
    // Drops every occurrence of the folder from the pending list.
    std::future<void> removePending(const std::filesystem::path& sessionDir);
    // A full scan of the given scope, then a drain.
    std::future<void> refreshPendingSessions(ScanScope scope);
    // The folder the running recording writes, which is never started; std::nullopt when idle.
    std::future<void> setActiveRecordingFolder(std::optional<std::filesystem::path> sessionDir);
    std::future<void> setHooks(ProcessingQueueHooks hooks);

    // The user's actions on one session; each leaves a session this process is processing alone
    // (stopProcessing aside). Failures are logged, never reported.
    // Resets the failed steps, cleans up, and queues the session at the front (unless it is left
    // to the nightly batch).
    std::future<void> retryFailed(const std::filesystem::path& sessionDir);
    // Runs the summary again, even while paused (but never on the folder being recorded).
    std::future<void> retrySummaryOnly(const std::filesystem::path& sessionDir);
    // Cancels the session's processing, waits for it to wind down, resets its running steps and
    // marks it stopped by hand, so scans leave it alone until a retry. Ready when all that is done.
    std::future<void> stopProcessing(const std::filesystem::path& sessionDir);
    // Builds and publishes the status snapshots now (forced) or unless the last publication is
    // recent (throttled); for a window that has just changed a session.
    std::future<void> pushSnapshotsToAppState(SnapshotPush push);

    // --- On the executor only ---

    platform::SerialExecutor& executor() { return executor_; }

    const std::vector<std::filesystem::path>& pendingDirs() const;
    // The folder of the session being processed (at most one).
    std::vector<std::filesystem::path> runningDirs() const;
    // Also true for a cancelled run that is still winding down.
    bool isProcessing(const std::filesystem::path& sessionDir) const;
    bool isPaused() const;
    const std::optional<std::filesystem::path>& baseDir() const;
    ResolvedDirectory resolveUserDir() const;

    // Drops every occurrence of the folder from the pending list (removePending() without the hop).
    void erasePending(const std::filesystem::path& sessionDir);
    // Starts the next pending session unless one runs or the queue is paused.
    void drain();
    void scanForPending(const std::filesystem::path& baseDir, ScanScope scope);
    void scheduleSnapshotUpdate();
    void publishRunningCount();

  private:
    struct RunningTask {
        std::filesystem::path sessionDir;
        std::stop_source stop;
        // Run on the executor once the task has ended (before the task's own drain).
        std::vector<std::function<void()>> whenFinished;
    };
    using TaskId = std::uint64_t;

    void assertOnExecutor() const;
    std::future<void> onExecutor(std::function<void()> operation);

    void startOnExecutor(const std::filesystem::path& baseDir, std::function<ResolvedDirectory()> resolver);
    void enqueueOnExecutor(const std::filesystem::path& sessionDir);
    void pauseOnExecutor();
    void resumeOnExecutor();
    void retryFailedOnExecutor(const std::filesystem::path& sessionDir);
    void retrySummaryOnlyOnExecutor(const std::filesystem::path& sessionDir);
    void stopProcessingOnExecutor(const std::filesystem::path& sessionDir,
                                  std::shared_ptr<std::promise<void>> done);

    // `bypassPauseFor`: while paused, this pending folder may still start (a summary-only retry).
    void drainPending(const std::optional<std::filesystem::path>& bypassPauseFor);
    std::optional<std::filesystem::path>
    takeNextStartable(const std::optional<std::filesystem::path>& bypassPauseFor);
    void startProcessing(const std::filesystem::path& sessionDir);
    platform::Executor& processingExecutor();
    void finishTask(TaskId id);
    void startWatcher(const std::filesystem::path& baseDir);
    void startPeriodicPolling();
    void performDirectoryChangeScan();
    void pushSnapshots(SnapshotPush push);
    bool isPending(const std::filesystem::path& sessionDir) const;
    bool isRunning(const std::filesystem::path& sessionDir) const;
    void appendPending(const std::filesystem::path& sessionDir);
    void insertAtFrontUnlessPending(const std::filesystem::path& sessionDir);
    void dropPending(const std::filesystem::path& sessionDir);
    void requeueAfterLockGivenUp(TaskId id);

    platform::TimerScheduler& timers_;
    platform::Clock& clock_;
    platform::PowerStatus* power_;
    std::function<platform::Clock::Duration()> uptime_;
    platform::Executor& utilityExecutor_;
    platform::Executor& backgroundExecutor_;
    platform::MainDispatcher& mainDispatcher_;
    AppState* appState_;
    SessionRetryFiles::ClearChunkCaches clearChunkCaches_;
    Timing timing_;
    SessionDiscovery discovery_;
    SessionProcessor processor_;

    // Only on executor_:
    std::vector<std::filesystem::path> pendingDirs_;
    std::set<std::filesystem::path> pendingSet_; // the same folders, for the scans' look-ups
    std::map<TaskId, RunningTask> runningTasks_; // the session being processed; at most one entry
    std::map<TaskId, RunningTask> windingDown_;  // cancelled and let go, not yet ended
    TaskId nextTaskId_ = 1;
    std::optional<std::filesystem::path> baseDir_;
    std::function<ResolvedDirectory()> userDirResolver_;
    std::optional<std::filesystem::path> activeRecordingFolder_;
    bool isPaused_ = false;
    bool shuttingDown_ = false;
    ProcessingQueueHooks hooks_;
    std::unique_ptr<platform::DirectoryWatcher> watcher_;
    platform::Timer startupDelayTimer_;
    platform::Timer periodicScanTimer_;
    platform::Timer snapshotUpdateTimer_;

    // Processing tasks not yet ended, for the destructor to wait for.
    std::mutex liveTasksMutex_;
    std::condition_variable liveTasksEnded_;
    int liveTasks_ = 0;

    platform::SerialExecutor executor_; // last: drains before the members above go
};

} // namespace velnote
