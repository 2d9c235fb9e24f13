#include "processing/sessions/SessionListController.h"

#include "platform/concurrency/MainDispatcher.h"
#include "session/folder/SessionDirectoryResolver.h"
#include "speech/cache/SpeechResultCache.h"

namespace velnote {
namespace fs = std::filesystem;
namespace {
constexpr std::int64_t kSpeechCacheLimitBytes = 500LL * 1024 * 1024;
}

SessionListController::SessionListController(ProcessingQueue& queue, Dependencies dependencies)
    : queue_(queue), dependencies_(std::move(dependencies)),
      builder_(SessionSnapshotBuilder::Dependencies{[this] { return workingDir(); },
                                                    [this] { return queue_.resolveUserDir(); }, nullptr}),
      publisher_(SnapshotPublisher::Dependencies{dependencies_.clock, dependencies_.mainDispatcher,
                                                 dependencies_.publishSnapshots}),
      actions_(SessionQueueAccess{[this](const fs::path& dir) { return queue_.isProcessing(dir); },
                                  [this](const fs::path& dir) { queue_.erasePending(dir); },
                                  [this](SnapshotPush push) { pushSnapshots(push); }},
               SessionFolderActions::Dependencies{[this] { return workingDir(); },
                                                  [this] { return queue_.resolveUserDir(); },
                                                  dependencies_.clock,
                                                  {}}) {
    if (dependencies_.notifications != nullptr) {
        notifier_.emplace(CompletionNotifier::Dependencies{dependencies_.notifications, dependencies_.clock,
                                                           dependencies_.mainDispatcher,
                                                           dependencies_.setLastTranscriptPath});
    }
}

fs::path SessionListController::workingDir() const {
    return queue_.baseDir().value_or(SessionDirectoryResolver::resolveWorkingDir());
}

std::future<void> SessionListController::install() {
    ProcessingQueueHooks hooks;
    hooks.pushSnapshotsToAppState = [this](SnapshotPush push) { pushSnapshots(push); };
    if (notifier_) {
        hooks.notifyCompletion = [this](const fs::path& dir) { notifier_->notifyCompletion(dir); };
    }
    return queue_.setHooks(std::move(hooks));
}

void SessionListController::pushSnapshots(SnapshotPush push) {
    const auto running = queue_.runningDirs();
    const auto& pending = queue_.pendingDirs();
    snapshotExecutor_.post([this, push, workingDir = workingDir(), saved = queue_.resolveUserDir(),
                            running = SessionSnapshotBuilder::PathSet(running.begin(), running.end()),
                            pending = SessionSnapshotBuilder::PathSet(pending.begin(), pending.end())] {
        publisher_.push(push, [&] { return builder_.snapshotAll(workingDir, saved, running, pending); });
    });
}

std::future<void> SessionListController::runAction(std::function<void()> action) {
    auto done = std::make_shared<std::promise<void>>();
    queue_.executor().post([this, action = std::move(action), done] {
        std::exception_ptr failure;
        try {
            action();
        } catch (...) {
            failure = std::current_exception();
        }
        // Behind the builds the action asked for.
        snapshotExecutor_.post([done, failure] {
            if (failure)
                done->set_exception(failure);
            else
                done->set_value();
        });
    });
    return done->get_future();
}

NightlyBatchScheduler::BatchAction SessionListController::nightlyBatchAction() {
    return [this](std::function<void()> finished) {
        (void)queue_.refreshPendingSessions(ScanScope::nightlyOnly);
        // The executor is serial: this runs after the scan and its drain.
        queue_.executor().post([this, finished = std::move(finished)] {
            SpeechResultCache().enforceCacheSizeLimit(kSpeechCacheLimitBytes);
            platform::Executor* main = dependencies_.mainDispatcher;
            if (main == nullptr)
                main = &platform::MainDispatcher::shared();
            main->post(finished);
        });
    };
}

std::future<void> SessionListController::closeSession(const fs::path& sessionDir, SessionMedia media) {
    return runAction([this, sessionDir, media] { actions_.closeSession(sessionDir, media); });
}

std::future<void> SessionListController::openSavedSession(const fs::path& sessionDir) {
    return runAction([this, sessionDir] { actions_.openSavedSession(sessionDir); });
}

std::future<void> SessionListController::deleteSession(const fs::path& sessionDir) {
    return runAction([this, sessionDir] { actions_.deleteSession(sessionDir); });
}

std::future<void> SessionListController::pushSnapshotsNow() {
    return runAction([this] { pushSnapshots(SnapshotPush::forced); });
}

} // namespace velnote
