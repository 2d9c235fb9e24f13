#pragma once

// The one notification a processed session gets: success naming the steps that completed, or
// failure naming the steps that failed with the first error text. Recorded in "session.json"
// ("completionNotificationSentAt") once the notification service accepted it, after which the
// session gets no other. Also points the application's last-transcript path at the session's
// first result file.

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "platform/notifications/NotificationCenter.h"

#include <filesystem>
#include <functional>
#include <optional>

namespace velnote {

class CompletionNotifier {
  public:
    static constexpr const char* kCategoryIdentifier = "VelnoteCompletionNotification";
    static constexpr const char* kShowInFinderActionIdentifier = "VelnoteShowInFinderAction";
    static constexpr const char* kSessionDirKey = "sessionDir"; // the folder's path as text
    static constexpr const char* kHasErrorKey = "hasError";     // true for a failure notification
    static constexpr const char* kIdentifierPrefix = "velnote.completion.";

    struct Dependencies {
        platform::NotificationCenter* center = nullptr; // required
        const platform::Clock* clock = nullptr;         // the sent time; nullptr = the system clock
        platform::Executor* mainDispatcher = nullptr;   // nullptr = MainDispatcher::shared()
        // Runs on the main thread; empty = AppState::shared().setLastTranscriptPath.
        std::function<void(std::optional<std::filesystem::path>)> setLastTranscriptPath;
    };

    explicit CompletionNotifier(Dependencies dependencies);

    // The category the shell registers, with its localized "Show in Finder" action.
    static platform::NotificationCategory category();

    // Posts the session's notification unless one was sent already or there is nothing to report
    // (no result file and no failed step). Blocks while the service takes the request. Never
    // throws: failures are logged in the "processing" category.
    void notifyCompletion(const std::filesystem::path& sessionDir);

  private:
    Dependencies dependencies_;
};

} // namespace velnote
