#pragma once

// What the session monitor asks of the processing queue. Every operation runs on the queue's
// actor; its completion is called on the main thread once the operation (and the snapshot
// publication it asked for) is over. None reports a failure except opening a saved session.

#include "processing/sessions/SessionFolderActions.h"

#include <filesystem>
#include <functional>
#include <future>

namespace velnote {

class ProcessingQueue;
class SessionListController;

class SessionMonitorServices {
  public:
    using Done = std::function<void()>;

    virtual ~SessionMonitorServices() = default;

    // Rebuilds every snapshot and publishes them at once (when they changed).
    virtual void pushSnapshots(Done done) = 0;
    // Cancels the session's processing and waits for its end.
    virtual void stopProcessing(const std::filesystem::path& sessionDir, Done done) = 0;
    // Drops the folder from the pending list and schedules a snapshot publication.
    virtual void removePending(const std::filesystem::path& sessionDir, Done done) = 0;
    // `done(true)` when the saved session is back in the working folder.
    virtual void openSavedSession(const std::filesystem::path& sessionDir,
                                  std::function<void(bool)> done) = 0;
    virtual void deleteSession(const std::filesystem::path& sessionDir, Done done) = 0;
    virtual void closeSession(const std::filesystem::path& sessionDir, SessionMedia media, Done done) = 0;
    virtual void retryFailed(const std::filesystem::path& sessionDir, Done done) = 0;
};

// The application's: the process's queue and the controller of its snapshots and folder
// actions. A pool thread waits for each operation's future; the completion is posted to the
// main dispatcher.
class QueueSessionMonitorServices final : public SessionMonitorServices {
  public:
    QueueSessionMonitorServices(ProcessingQueue& queue, std::function<SessionListController&()> sessionList);

    void pushSnapshots(Done done) override;
    void stopProcessing(const std::filesystem::path& sessionDir, Done done) override;
    void removePending(const std::filesystem::path& sessionDir, Done done) override;
    void openSavedSession(const std::filesystem::path& sessionDir, std::function<void(bool)> done) override;
    void deleteSession(const std::filesystem::path& sessionDir, Done done) override;
    void closeSession(const std::filesystem::path& sessionDir, SessionMedia media, Done done) override;
    void retryFailed(const std::filesystem::path& sessionDir, Done done) override;

  private:
    ProcessingQueue& queue_;
    std::function<SessionListController&()> sessionList_;
};

} // namespace velnote
