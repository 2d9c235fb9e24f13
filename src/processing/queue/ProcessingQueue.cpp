#include "processing/queue/ProcessingQueue.h"

#include "platform/concurrency/ThreadPool.h"
#include "platform/power/SystemPowerStatus.h"
#include "platform/power/SystemUptime.h"
#include "processing/queue/QueueLogging.h"
#include "session/folder/SessionMetadataStore.h"
#include "speech/cache/SpeechResultCache.h"

#include <algorithm>
#include <cassert>

namespace velnote {
namespace fs = std::filesystem;
using platform::Clock;

namespace {

using queue_logging::log;
using queue_logging::nameOf;

template <class T> T& orShared(T* given, T& (*shared)()) {
    return given ? *given : shared();
}

platform::Executor& sharedPool(platform::Executor* given, platform::Priority priority) {
    return given ? *given : platform::ThreadPool::shared().executor(priority);
}

std::function<Clock::Duration()> orSystemUptime(std::function<Clock::Duration()> uptime) {
    if (uptime)
        return uptime;
    return [] { return std::chrono::duration_cast<Clock::Duration>(platform::systemUptime()); };
}

SessionRetryFiles::ClearChunkCaches orSpeechCache(SessionRetryFiles::ClearChunkCaches clear) {
    if (clear)
        return clear;
    return [](const std::vector<fs::path>& chunks) { SpeechResultCache().clearChunkCaches(chunks); };
}

} // namespace

ProcessingQueue::ProcessingQueue() : ProcessingQueue(Dependencies{}) {}

ProcessingQueue::ProcessingQueue(Dependencies d)
    : timers_(orShared(d.timers, &platform::TimerScheduler::shared)), clock_(timers_.clock()),
      power_(d.power), uptime_(orSystemUptime(std::move(d.uptime))),
      utilityExecutor_(sharedPool(d.utilityExecutor, platform::Priority::utility)),
      backgroundExecutor_(sharedPool(d.backgroundExecutor, platform::Priority::background)),
      mainDispatcher_(orShared(d.mainDispatcher, &platform::MainDispatcher::shared)), appState_(d.appState),
      clearChunkCaches_(orSpeechCache(std::move(d.clearChunkCaches))), timing_(d.timing),
      discovery_(clock_, timing_.retryAfterFailure),
      processor_(SessionProcessor::Dependencies{&clock_, std::move(d.transcribe), std::move(d.summary),
                                                std::move(d.acquireLock), timing_.lockRetryDelay},
                 SessionProcessor::Callbacks{
                     [this] { executor_.post([this] { pushSnapshots(SnapshotPush::throttled); }); },
                     [this](const fs::path& dir) {
                         executor_.post([this, dir] {
                             if (!shuttingDown_ && hooks_.notifyCompletion)
                                 hooks_.notifyCompletion(dir);
                         });
                     },
                     [state = d.appState, &main = mainDispatcher_](const fs::path& summaryPath) {
                         main.post([state, summaryPath] {
                             (state ? *state : AppState::shared()).setLastSummaryPath(summaryPath);
                         });
                     }}) {}

ProcessingQueue::~ProcessingQueue() {
    executor_
        .submit([this] {
            shuttingDown_ = true;
            startupDelayTimer_.cancel();
            periodicScanTimer_.cancel();
            snapshotUpdateTimer_.cancel();
            watcher_.reset();
            for (auto* tasks : {&runningTasks_, &windingDown_}) {
                for (auto& [id, task] : *tasks)
                    task.stop.request_stop();
            }
        })
        .get();
    std::unique_lock lock(liveTasksMutex_);
    liveTasksEnded_.wait(lock, [this] { return liveTasks_ == 0; });
    // executor_ goes first and runs the tasks' closing jobs, which see shuttingDown_.
}

ProcessingQueue& ProcessingQueue::shared() {
    // Never destroyed: processing tasks may still run when the process exits.
    static auto* queue = new ProcessingQueue();
    return *queue;
}

// --- Operations ---

std::future<void> ProcessingQueue::onExecutor(std::function<void()> operation) {
    return executor_.submit(std::move(operation));
}

std::future<void> ProcessingQueue::start(const fs::path& baseDir,
                                         std::function<ResolvedDirectory()> resolver) {
    return onExecutor([this, baseDir, resolver = std::move(resolver)]() mutable {
        startOnExecutor(baseDir, std::move(resolver));
    });
}

std::future<void> ProcessingQueue::enqueue(const fs::path& sessionDir) {
    return onExecutor([this, sessionDir] { enqueueOnExecutor(sessionDir); });
}

std::future<void> ProcessingQueue::pause() {
    return onExecutor([this] { pauseOnExecutor(); });
}

std::future<void> ProcessingQueue::resume() {
    return onExecutor([this] { resumeOnExecutor(); });
}

std::future<void> ProcessingQueue::removePending(const fs::path& sessionDir) {
    return onExecutor([this, sessionDir] { erasePending(sessionDir); });
}

std::future<void> ProcessingQueue::refreshPendingSessions(ScanScope scope) {
    return onExecutor([this, scope] {
        if (!baseDir_)
            return;
        log().info("refreshPendingSessions called nightlyOnly={}",
                   scope == ScanScope::nightlyOnly ? "true" : "false");
        scanForPending(*baseDir_, scope);
        drain();
    });
}

std::future<void> ProcessingQueue::setActiveRecordingFolder(std::optional<fs::path> sessionDir) {
    return onExecutor([this, sessionDir = std::move(sessionDir)] { activeRecordingFolder_ = sessionDir; });
}

std::future<void> ProcessingQueue::setHooks(ProcessingQueueHooks hooks) {
    return onExecutor([this, hooks = std::move(hooks)] { hooks_ = hooks; });
}

std::future<void> ProcessingQueue::retryFailed(const fs::path& sessionDir) {
    return onExecutor([this, sessionDir] { retryFailedOnExecutor(sessionDir); });
}

std::future<void> ProcessingQueue::retrySummaryOnly(const fs::path& sessionDir) {
    return onExecutor([this, sessionDir] { retrySummaryOnlyOnExecutor(sessionDir); });
}

std::future<void> ProcessingQueue::pushSnapshotsToAppState(SnapshotPush push) {
    return onExecutor([this, push] { pushSnapshots(push); });
}

std::future<void> ProcessingQueue::stopProcessing(const fs::path& sessionDir) {
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    executor_.post([this, sessionDir, done] { stopProcessingOnExecutor(sessionDir, done); });
    return future;
}

// --- State on the executor ---

void ProcessingQueue::assertOnExecutor() const {
    assert(executor_.isCurrent());
}

const std::vector<fs::path>& ProcessingQueue::pendingDirs() const {
    assertOnExecutor();
    return pendingDirs_;
}

std::vector<fs::path> ProcessingQueue::runningDirs() const {
    assertOnExecutor();
    std::vector<fs::path> dirs;
    for (const auto& [id, task] : runningTasks_)
        dirs.push_back(task.sessionDir);
    return dirs;
}

bool ProcessingQueue::isProcessing(const fs::path& sessionDir) const {
    assertOnExecutor();
    const auto holds = [&](const auto& tasks) {
        return std::any_of(tasks.begin(), tasks.end(),
                           [&](const auto& entry) { return entry.second.sessionDir == sessionDir; });
    };
    return holds(runningTasks_) || holds(windingDown_);
}

bool ProcessingQueue::isPaused() const {
    assertOnExecutor();
    return isPaused_;
}

const std::optional<fs::path>& ProcessingQueue::baseDir() const {
    assertOnExecutor();
    return baseDir_;
}

ResolvedDirectory ProcessingQueue::resolveUserDir() const {
    assertOnExecutor();
    return userDirResolver_ ? userDirResolver_() : SessionDirectoryResolver::resolveUserDir();
}

bool ProcessingQueue::isPending(const fs::path& sessionDir) const {
    return pendingSet_.contains(sessionDir);
}

void ProcessingQueue::appendPending(const fs::path& sessionDir) {
    if (pendingSet_.insert(sessionDir).second)
        pendingDirs_.push_back(sessionDir);
}

bool ProcessingQueue::isRunning(const fs::path& sessionDir) const {
    return std::any_of(runningTasks_.begin(), runningTasks_.end(),
                       [&](const auto& entry) { return entry.second.sessionDir == sessionDir; });
}

void ProcessingQueue::erasePending(const fs::path& sessionDir) {
    assertOnExecutor();
    dropPending(sessionDir);
    scheduleSnapshotUpdate();
}

void ProcessingQueue::dropPending(const fs::path& sessionDir) {
    if (pendingSet_.erase(sessionDir) > 0)
        std::erase(pendingDirs_, sessionDir);
}

void ProcessingQueue::insertAtFrontUnlessPending(const fs::path& sessionDir) {
    if (pendingSet_.insert(sessionDir).second)
        pendingDirs_.insert(pendingDirs_.begin(), sessionDir);
}

// --- Start-up, enqueue, pause ---

void ProcessingQueue::startOnExecutor(const fs::path& baseDir, std::function<ResolvedDirectory()> resolver) {
    baseDir_ = baseDir;
    userDirResolver_ = std::move(resolver);
    discovery_.resetOrphanedRunningStates(baseDir);
    scanForPending(baseDir, ScanScope::regular);
    startWatcher(baseDir);
    startPeriodicPolling();
    const Clock::Duration uptime = uptime_();
    if (uptime >= timing_.minimumUptime) {
        drain();
        return;
    }
    const Clock::Duration delay = timing_.minimumUptime - uptime;
    log().info("startup delay {}s (uptime={}s) to allow GPU initialization",
               std::chrono::duration_cast<std::chrono::seconds>(delay).count(),
               std::chrono::duration_cast<std::chrono::seconds>(uptime).count());
    startupDelayTimer_ = timers_.once(delay, executor_, [this] { drain(); });
}

void ProcessingQueue::enqueueOnExecutor(const fs::path& sessionDir) {
    if (isPending(sessionDir) || isRunning(sessionDir))
        return;
    try {
        if (SessionMetadataStore::read(sessionDir).config.system.nightlyBatch) {
            log().info("session marked nightly-only; skipping immediate enqueue: {}", nameOf(sessionDir));
            return;
        }
    } catch (const std::exception& error) {
        // Queued all the same: the failure shows when the session is processed.
        log().error("failed to read session metadata for enqueue check: {}: {}", nameOf(sessionDir),
                    error.what());
    }
    appendPending(sessionDir);
    drain();
}

void ProcessingQueue::pauseOnExecutor() {
    if (isPaused_)
        return;
    isPaused_ = true;
    log().info("ProcessingQueue paused, cancelling {} running tasks", runningTasks_.size());
    // The cancelled task resets its steps and releases the lock by itself; until it ends it is
    // only winding down, and its end no longer touches the running list.
    for (auto& [id, task] : runningTasks_) {
        task.stop.request_stop();
        insertAtFrontUnlessPending(task.sessionDir);
        windingDown_.emplace(id, std::move(task));
    }
    runningTasks_.clear();
    publishRunningCount();
}

void ProcessingQueue::resumeOnExecutor() {
    if (!isPaused_)
        return;
    isPaused_ = false;
    log().info("ProcessingQueue resumed");
    drain();
}

// --- Drain and the processing tasks ---

void ProcessingQueue::drain() {
    assertOnExecutor();
    drainPending(std::nullopt);
}

void ProcessingQueue::drainPending(const std::optional<fs::path>& bypassPauseFor) {
    if (shuttingDown_)
        return;
    // A cancelled run still holds its session until it ends: starting another beside it would run
    // two sessions at once.
    if (runningTasks_.empty() && windingDown_.empty()) {
        if (auto next = takeNextStartable(bypassPauseFor))
            startProcessing(*next);
    }
    scheduleSnapshotUpdate();
}

std::optional<fs::path> ProcessingQueue::takeNextStartable(const std::optional<fs::path>& bypassPauseFor) {
    // The folder being recorded stays pending: its audio is still being written.
    const auto startable = [&](const fs::path& dir) {
        return !activeRecordingFolder_ || dir != *activeRecordingFolder_;
    };
    auto next = pendingDirs_.end();
    if (!isPaused_) {
        next = std::find_if(pendingDirs_.begin(), pendingDirs_.end(), startable);
    } else if (bypassPauseFor && startable(*bypassPauseFor)) {
        next = std::find(pendingDirs_.begin(), pendingDirs_.end(), *bypassPauseFor);
    }
    if (next == pendingDirs_.end())
        return std::nullopt;
    fs::path dir = *next;
    pendingDirs_.erase(next);
    pendingSet_.erase(dir);
    return dir;
}

platform::Executor& ProcessingQueue::processingExecutor() {
    auto& power = power_ ? *power_ : platform::SystemPowerStatus::shared();
    const bool saving =
        power.isLowPowerModeEnabled() || power.thermalState() >= platform::ThermalState::serious;
    return saving ? backgroundExecutor_ : utilityExecutor_;
}

void ProcessingQueue::startProcessing(const fs::path& sessionDir) {
    platform::Executor& executor = processingExecutor();
    const TaskId id = nextTaskId_++;
    RunningTask& task = runningTasks_[id];
    task.sessionDir = sessionDir;
    const std::stop_token stop = task.stop.get_token();
    {
        std::lock_guard lock(liveTasksMutex_);
        ++liveTasks_;
    }
    executor.post([this, id, sessionDir, stop] {
        const bool lockTaken = processor_.process(sessionDir, stop);
        executor_.post([this, id, lockTaken] {
            if (!lockTaken)
                requeueAfterLockGivenUp(id);
            finishTask(id);
        });
        std::lock_guard lock(liveTasksMutex_);
        --liveTasks_;
        liveTasksEnded_.notify_all();
    });
    publishRunningCount();
}

void ProcessingQueue::requeueAfterLockGivenUp(TaskId id) {
    // Only a run still current goes to the back: a run that pause() or stopProcessing() let go is
    // already dealt with (pause put the folder back in front, a stop must not start it again), even
    // when a newer run of the same folder holds the running list now.
    auto found = runningTasks_.find(id);
    if (found != runningTasks_.end())
        appendPending(found->second.sessionDir);
}

void ProcessingQueue::finishTask(TaskId id) {
    // Keyed by the task, not the folder: a task that pause() or stopProcessing() let go must not
    // remove the entry of a newer run of the same folder.
    std::vector<std::function<void()>> continuations;
    for (auto* tasks : {&runningTasks_, &windingDown_}) {
        if (auto found = tasks->find(id); found != tasks->end()) {
            continuations = std::move(found->second.whenFinished);
            tasks->erase(found);
        }
    }
    publishRunningCount();
    for (auto& continuation : continuations)
        continuation();
    if (shuttingDown_)
        return;
    pushSnapshots(SnapshotPush::forced);
    drain();
}

void ProcessingQueue::publishRunningCount() {
    const auto count = static_cast<std::int64_t>(runningTasks_.size());
    mainDispatcher_.post([state = appState_, count] {
        (state ? *state : AppState::shared()).setProcessingSessionCount(count);
    });
}

void ProcessingQueue::scheduleSnapshotUpdate() {
    if (shuttingDown_)
        return;
    // Replacing the timer cancels the one pending, so a burst of requests gives one publication.
    snapshotUpdateTimer_ =
        timers_.once(timing_.snapshotDebounce, executor_, [this] { pushSnapshots(SnapshotPush::throttled); });
}

void ProcessingQueue::pushSnapshots(SnapshotPush push) {
    if (!shuttingDown_ && hooks_.pushSnapshotsToAppState)
        hooks_.pushSnapshotsToAppState(push);
}

// --- Discovery ---

void ProcessingQueue::scanForPending(const fs::path& baseDir, ScanScope scope) {
    assertOnExecutor();
    for (const auto& dir :
         SessionDiscovery::listSessionFolders(baseDir, "failed to list base directory for scan")) {
        if (discovery_.shouldEnqueuePendingSession(dir, scope, isPending(dir), isProcessing(dir)))
            appendPending(dir);
    }
}

void ProcessingQueue::startWatcher(const fs::path& baseDir) {
    watcher_.reset();
    try {
        watcher_ = std::make_unique<platform::DirectoryWatcher>(
            baseDir, executor_, [this] { performDirectoryChangeScan(); }, timing_.watcherDebounce);
        log().info("directory watcher started: {}", baseDir.string());
    } catch (const std::exception&) {
        // The start-up scan and the periodic scans still find the work.
        log().error("failed to open directory for watching: {}", baseDir.string());
    }
}

void ProcessingQueue::startPeriodicPolling() {
    periodicScanTimer_ = timers_.repeating(timing_.periodicScanInterval, executor_, [this] {
        if (!baseDir_)
            return;
        scanForPending(*baseDir_, ScanScope::regular);
        drain();
    });
}

void ProcessingQueue::performDirectoryChangeScan() {
    if (!baseDir_)
        return;
    log().debug("working folder changed, scanning: {}", baseDir_->string());
    for (const auto& dir :
         SessionDiscovery::listSessionFolders(*baseDir_, "failed to list base directory on change")) {
        if (discovery_.shouldEnqueueOnChange(dir, isPending(dir), isProcessing(dir)))
            appendPending(dir);
    }
    drain();
}

// --- The user's actions ---

void ProcessingQueue::retryFailedOnExecutor(const fs::path& sessionDir) {
    if (isProcessing(sessionDir))
        return;
    try {
        SessionRetryFiles::resetRetrySessionMetadata(sessionDir);
    } catch (const std::exception& error) {
        log().error("failed to reset step status for retry: {}", error.what());
    }
    SessionRetryFiles::cleanupRetryArtifacts(sessionDir, clock_, clearChunkCaches_);
    try {
        // Left for the nightly run, which takes it with its pending steps and the stop mark cleared.
        if (SessionRetryFiles::shouldDeferRetryUntilNightlyBatch(sessionDir))
            return;
    } catch (const std::exception& error) {
        log().error("failed to read session metadata for retry check: {}: {}", nameOf(sessionDir),
                    error.what());
    }
    insertAtFrontUnlessPending(sessionDir);
    drain();
}

void ProcessingQueue::retrySummaryOnlyOnExecutor(const fs::path& sessionDir) {
    if (isProcessing(sessionDir))
        return;
    SessionRetryFiles::prepareSummaryRetry(sessionDir, clock_);
    insertAtFrontUnlessPending(sessionDir);
    drainPending(sessionDir);
}

void ProcessingQueue::stopProcessingOnExecutor(const fs::path& sessionDir,
                                               std::shared_ptr<std::promise<void>> done) {
    auto found = std::find_if(runningTasks_.begin(), runningTasks_.end(),
                              [&](const auto& entry) { return entry.second.sessionDir == sessionDir; });
    if (found == runningTasks_.end()) {
        done->set_value();
        return;
    }
    found->second.stop.request_stop();
    found->second.whenFinished.push_back([this, sessionDir, done] {
        SessionRetryFiles::markStopped(sessionDir);
        dropPending(sessionDir); // queued again while winding down: stays stopped
        pushSnapshots(SnapshotPush::forced);
        drain();
        done->set_value();
    });
    windingDown_.emplace(found->first, std::move(found->second));
    runningTasks_.erase(found);
    publishRunningCount();
}

} // namespace velnote
