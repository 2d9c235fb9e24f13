#include "app/shell/CompletionNotificationRouter.h"

#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/notifications/FileManagerReveal.h"
#include "processing/sessions/CompletionNotifier.h"
#include "session/VelnoteLogger.h"

#include <system_error>
#include <variant>

namespace velnote {
namespace fs = std::filesystem;

namespace {

// The path a folder is listed under: the snapshots resolve links and normalise their ids, so the
// path the notification carries is compared the same way.
fs::path comparable(const fs::path& folder) {
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(folder, error);
    return (error ? folder : resolved).lexically_normal();
}

} // namespace

CompletionNotificationRouter::CompletionNotificationRouter(Dependencies d)
    : appState_(d.appState ? *d.appState : AppState::shared()),
      main_(d.mainDispatcher ? *d.mainDispatcher : platform::MainDispatcher::shared()),
      clock_(d.clock ? *d.clock : platform::SystemClock::shared()), windows_(*d.windows),
      dependencies_(std::move(d)) {
    if (!dependencies_.revealItems) {
        dependencies_.revealItems = [](const std::vector<fs::path>& items) {
            return platform::FileManagerReveal::revealItems(items);
        };
    }
    if (!dependencies_.openFolder) {
        dependencies_.openFolder = [](const fs::path& folder) {
            return platform::FileManagerReveal::revealItems({folder});
        };
    }
}

void CompletionNotificationRouter::setup(platform::NotificationCenter& center) {
    center.setCategories({CompletionNotifier::category()});
    center.setResponseHandler(
        [this](const platform::NotificationResponse& response) { handleResponse(response); });
}

void CompletionNotificationRouter::handleResponse(const platform::NotificationResponse& response) {
    const auto dir = response.userInfo.find(CompletionNotifier::kSessionDirKey);
    if (dir == response.userInfo.end() || !std::holds_alternative<std::string>(dir->second)) {
        return;
    }
    const fs::path sessionDir = std::get<std::string>(dir->second);
    const auto flag = response.userInfo.find(CompletionNotifier::kHasErrorKey);
    const bool hasError = flag != response.userInfo.end() && std::holds_alternative<bool>(flag->second) &&
                          std::get<bool>(flag->second);

    if (response.actionIdentifier == CompletionNotifier::kShowInFinderActionIdentifier) {
        main_.post([this, sessionDir] { openSessionInFinder(sessionDir); });
    } else if (hasError) {
        main_.post([this, sessionDir] {
            appState_.setExpandedSessionID(sessionDir);
            windows_.sessionMonitor->show();
        });
    } else {
        main_.post([this, sessionDir] { openSummaryPreview(sessionDir); });
    }
}

void CompletionNotificationRouter::openSessionInFinder(const fs::path& sessionDir) {
    std::vector<fs::path> items;
    for (const char* name : {"transcript.txt", "summary.md"}) {
        std::error_code error;
        if (fs::exists(sessionDir / name, error)) {
            items.push_back(sessionDir / name);
        }
    }
    const bool asked =
        items.empty() ? dependencies_.openFolder(sessionDir) : dependencies_.revealItems(items);
    if (!asked) {
        VelnoteLogger::app().error("could not show {} in the file manager", sessionDir.string());
    }
}

void CompletionNotificationRouter::openSummaryPreview(const fs::path& sessionDir) {
    const fs::path wanted = comparable(sessionDir);
    for (const SessionStatusSnapshot& snapshot : appState_.sessionSnapshots()) {
        if (snapshot.id == sessionDir || snapshot.id == wanted) {
            const SummaryVersion version{
                .url = snapshot.id / "summary.md",
                .createdAt = std::chrono::time_point_cast<std::chrono::microseconds>(clock_.wallNow()),
                .isLatest = true,
                .runConfig = std::nullopt,
            };
            windows_.summaryPreview->show(snapshot, version);
            return;
        }
    }
    openSessionInFinder(sessionDir);
}

} // namespace velnote
