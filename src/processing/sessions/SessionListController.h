#pragma once

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/notifications/NotificationCenter.h"
#include "processing/queue/ProcessingQueue.h"
#include "processing/sessions/CompletionNotifier.h"
#include "processing/sessions/NightlyBatchScheduler.h"
#include "processing/sessions/SessionFolderActions.h"
#include "processing/sessions/SessionSnapshotBuilder.h"
#include "processing/sessions/SnapshotPublisher.h"

#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>

namespace velnote {

// The operations that sit on top of the processing queue's actor: the status snapshots, the
// completion notification, and the user's close / reopen / delete of a session. `install()`
// plugs the first two into the queue's hooks; the folder actions run on the queue's executor so
// they see the queue's pending and running sessions as they are.
//
// A snapshot build reads every session folder (seconds for thousands of sessions), so it does not
// run on the queue's executor: there only the queue state it needs is copied, and the build and
// its publication run on the controller's own serial executor, in the order they were asked for.
//
// The controller must outlive the queue's use of its hooks (the shell keeps both for the life of
// the process).
class SessionListController {
  public:
    struct Dependencies {
        // Where completion notifications go; nullptr posts none (a machine without the service).
        platform::NotificationCenter* notifications = nullptr;
        const platform::Clock* clock = nullptr;       // nullptr = the system clock
        platform::Executor* mainDispatcher = nullptr; // nullptr = MainDispatcher::shared()
        // Both run on the main thread; empty = the AppState::shared() setters.
        std::function<void(std::vector<SessionStatusSnapshot>)> publishSnapshots;
        std::function<void(std::optional<std::filesystem::path>)> setLastTranscriptPath;
    };

    SessionListController(ProcessingQueue& queue, Dependencies dependencies);

    // Sets the queue's hooks; ready once they are in place.
    std::future<void> install();

    // Each runs on the queue's executor; the future is ready once the snapshots the action asked
    // for are published, and rethrows what the action throws (only reopening throws: DomainError
    // "Velnote" 1 or 2, or a file-system error).
    std::future<void> closeSession(const std::filesystem::path& sessionDir, SessionMedia media);
    std::future<void> openSavedSession(const std::filesystem::path& sessionDir);
    std::future<void> deleteSession(const std::filesystem::path& sessionDir);
    // A forced publication of every snapshot (the session monitor's refresh); ready once it is
    // published, or found equal to what was.
    std::future<void> pushSnapshotsNow();

    // The nightly run: the nightly-only scan of the working folder with its drain, then the
    // speech-result cache trimmed to 500 MiB; `finished` runs on the main thread afterwards.
    NightlyBatchScheduler::BatchAction nightlyBatchAction();

    // On the queue's executor: takes the queue's running and pending sessions and its folders,
    // then builds the snapshots of every session and publishes them on the snapshot executor.
    // Returns at once.
    void pushSnapshots(SnapshotPush push);

  private:
    std::filesystem::path workingDir() const;
    // Runs `action` on the queue's executor; the future is ready after the snapshot builds asked
    // for until then.
    std::future<void> runAction(std::function<void()> action);

    ProcessingQueue& queue_;
    Dependencies dependencies_;
    SessionSnapshotBuilder builder_;
    SnapshotPublisher publisher_;
    std::optional<CompletionNotifier> notifier_;
    SessionFolderActions actions_;
    // Declared last: drains (the builds still asked for) before the members above go.
    platform::SerialExecutor snapshotExecutor_;
};

} // namespace velnote
