#pragma once

#include "app/shell/ShellWindows.h"
#include "app/state/AppState.h"
#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "platform/notifications/NotificationCenter.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace velnote {

// Where a click on a completion notification leads: "Show in Finder" shows the session's
// transcript and summary in the file manager; a click on a failure opens the session monitor with
// that session expanded; a click on a success opens the summary preview of its current summary
// (the folder, when the session is not among the listed ones).
//
// setup() registers the category and the response handler with the notification service. The
// handler may be called on any thread: it only reads the response and posts the work to the main
// thread. The router must outlive the notification center's use of it.
class CompletionNotificationRouter {
  public:
    struct Dependencies {
        AppState* appState = nullptr;                 // AppState::shared()
        platform::Executor* mainDispatcher = nullptr; // MainDispatcher::shared()
        const platform::Clock* clock = nullptr;       // the preview's version date; the system clock
        ShellWindows* windows = nullptr;              // required
        // Shows files selected in the file manager / opens a folder. Empty = FileManagerReveal.
        std::function<bool(const std::vector<std::filesystem::path>&)> revealItems{};
        std::function<bool(const std::filesystem::path&)> openFolder{};
    };

    explicit CompletionNotificationRouter(Dependencies dependencies);

    // Registers the "VelnoteCompletionNotification" category with its "Show in Finder" action and
    // routes the responses here.
    void setup(platform::NotificationCenter& center);

    // Any thread. A response without a "sessionDir" text is ignored; "hasError" counts only as a
    // boolean true.
    void handleResponse(const platform::NotificationResponse& response);

    // Main thread. Shows "transcript.txt" and "summary.md" of the folder, those that exist, selected
    // in the file manager; the folder itself when neither does.
    void openSessionInFinder(const std::filesystem::path& sessionDir);
    // Main thread. The preview of the listed session's "summary.md" (latest, dated now, no run
    // configuration); openSessionInFinder() when the session is not listed.
    void openSummaryPreview(const std::filesystem::path& sessionDir);

  private:
    AppState& appState_;
    platform::Executor& main_;
    const platform::Clock& clock_;
    ShellWindows& windows_;
    Dependencies dependencies_;
};

} // namespace velnote
