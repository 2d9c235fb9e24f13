#include "ui/monitor/core/SessionMonitorServices.h"

#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ThreadPool.h"
#include "processing/queue/ProcessingQueue.h"
#include "processing/sessions/SessionListController.h"
#include "session/VelnoteLogger.h"

#include <memory>

namespace velnote {

namespace {

// Waits on a pool thread, then hands the outcome (true unless the operation threw) to the main
// thread; the main thread itself never blocks on the queue.
void whenReady(std::future<void> future, std::function<void(bool)> done) {
    auto shared = std::make_shared<std::future<void>>(std::move(future));
    platform::ThreadPool::shared().post(
        [shared, done = std::move(done)] {
            bool ok = true;
            try {
                shared->get();
            } catch (const std::exception& e) {
                VelnoteLogger::app().debug("session monitor action failed: {}", e.what());
                ok = false;
            }
            platform::MainDispatcher::shared().post([done, ok] { done(ok); });
        },
        platform::Priority::utility);
}

void whenReady(std::future<void> future, SessionMonitorServices::Done done) {
    whenReady(std::move(future), [done = std::move(done)](bool) { done(); });
}

} // namespace

QueueSessionMonitorServices::QueueSessionMonitorServices(ProcessingQueue& queue,
                                                         std::function<SessionListController&()> sessionList)
    : queue_(queue), sessionList_(std::move(sessionList)) {}

void QueueSessionMonitorServices::pushSnapshots(Done done) {
    whenReady(sessionList_().pushSnapshotsNow(), std::move(done));
}

void QueueSessionMonitorServices::stopProcessing(const std::filesystem::path& sessionDir, Done done) {
    whenReady(queue_.stopProcessing(sessionDir), std::move(done));
}

void QueueSessionMonitorServices::removePending(const std::filesystem::path& sessionDir, Done done) {
    // One step on the actor, so no drain runs between the removal and the scheduled publication.
    whenReady(queue_.executor().submit([this, sessionDir] {
        queue_.erasePending(sessionDir);
        queue_.scheduleSnapshotUpdate();
    }),
              std::move(done));
}

void QueueSessionMonitorServices::openSavedSession(const std::filesystem::path& sessionDir,
                                                   std::function<void(bool)> done) {
    whenReady(sessionList_().openSavedSession(sessionDir), std::move(done));
}

void QueueSessionMonitorServices::deleteSession(const std::filesystem::path& sessionDir, Done done) {
    whenReady(sessionList_().deleteSession(sessionDir), std::move(done));
}

void QueueSessionMonitorServices::closeSession(const std::filesystem::path& sessionDir, SessionMedia media,
                                               Done done) {
    whenReady(sessionList_().closeSession(sessionDir, media), std::move(done));
}

void QueueSessionMonitorServices::retryFailed(const std::filesystem::path& sessionDir, Done done) {
    whenReady(queue_.retryFailed(sessionDir), std::move(done));
}

} // namespace velnote
