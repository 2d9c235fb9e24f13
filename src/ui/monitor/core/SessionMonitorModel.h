#pragma once

// The state and actions of the "Session Status" window without its widgets: the filters and the
// list they give, the loading and refreshing flags, the sessions with an action in flight, the
// delete confirmation, the close sheet, the notice, and the retry from its preparation to the
// queue. It follows AppState's session snapshots and processing count.
//
// Main thread only. The queue's operations go through SessionMonitorServices, whose completions
// come back on the main thread; a completion that arrives after the model is gone is dropped.

#include "app/state/AppState.h"
#include "session/folder/SummaryVersion.h"
#include "session/keychain/KeychainHelper.h"
#include "ui/monitor/core/RetryPreparation.h"
#include "ui/monitor/core/SessionListFilter.h"
#include "ui/monitor/core/SessionMonitorServices.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velnote {
namespace platform {
class Clock;
}

class SessionMonitorModel {
  public:
    // What changed, for the view to redraw only that.
    enum class Change {
        list,    // the filtered list, the sections or the in-flight marks
        toolbar, // refreshing flag or processing count
        filters, // a filter value or the model choices
        alerts,  // the delete confirmation, the close sheet or the notice
    };

    struct Dependencies {
        AppState* appState = nullptr;                       // AppState::shared()
        std::shared_ptr<SessionMonitorServices> services{}; // required
        RetryPreparation::Dependencies retry{};             // settings and keychain of the retry
        const KeychainHelper* keychain = nullptr;           // saves a typed OpenRouter key; nullptr = keyring
        const platform::Clock* clock = nullptr;             // nullptr = the system clock
        // Opens a retry dialog; the handler runs when the user confirms it. Required for retries.
        std::function<void(RetryWindowInput, std::function<void(RetryProviderSelectionState)>)>
            openRetryDialog{};
        // Opens the summary preview of one version. Required for View.
        std::function<void(const SessionStatusSnapshot&, const SummaryVersion&)> showSummary{};
        // Shows the folder in the file manager. Required for reveal.
        std::function<void(const std::filesystem::path&)> revealFolder{};
    };

    explicit SessionMonitorModel(Dependencies dependencies);
    ~SessionMonitorModel();
    SessionMonitorModel(const SessionMonitorModel&) = delete;
    SessionMonitorModel& operator=(const SessionMonitorModel&) = delete;

    // Called with each change; the view redraws from the accessors.
    void setChangeHandler(std::function<void(Change)> handler) { onChange_ = std::move(handler); }

    // The view came on screen: with snapshots already published the list shows at once and a
    // refresh runs behind it; otherwise the loading state stays until the first refresh ends.
    void appear();
    // A forced publication of the snapshots; dropped while one runs.
    void refresh();

    // --- State ---
    bool sessionsLoaded() const { return sessionsLoaded_; }
    bool isRefreshing() const { return isRefreshing_; }
    std::int64_t processingSessionCount() const;
    const std::vector<SessionStatusSnapshot>& allSnapshots() const;
    const std::vector<SessionStatusSnapshot>& filteredSnapshots() const { return filtered_; }
    // Both sections of the filtered list, each in list order.
    std::vector<SessionStatusSnapshot> workingSnapshots() const;
    std::vector<SessionStatusSnapshot> savedSnapshots() const;
    enum class Content { loading, empty, list };
    Content content() const;
    bool isActionPending(const std::filesystem::path& sessionDir) const;

    // --- Filters ---
    const SessionFilters& filters() const { return filters_; }
    const std::vector<std::string>& whisperModelOptions() const { return filter_.whisperModelOptions(); }
    // Each refilters when the value changes.
    void setStatusFilter(std::optional<SessionStatusSnapshot::OverallStatus> status);
    void setWhisperModelFilter(std::string model);
    void setSummaryProviderFilter(std::string provider);
    void setFreeTextFilter(std::string text);
    // Every filter back to its initial value, and refilter (also when nothing changed).
    void resetFilters();

    AppState& appState() { return appState_; }

    // --- Row actions ---
    // The latest summary ("summary.md", dated now, no run configuration).
    void view(const SessionStatusSnapshot& snapshot);
    // A version chosen in the row's version menu.
    void viewVersion(const SessionStatusSnapshot& snapshot, const SummaryVersion& version);
    void reveal(const SessionStatusSnapshot& snapshot);
    // Drops a pending session from the list at once and from the queue's pending list.
    void remove(const SessionStatusSnapshot& snapshot);
    void open(const SessionStatusSnapshot& snapshot);
    // `done` when the queue has stopped the session.
    void stop(const SessionStatusSnapshot& snapshot, std::function<void()> done);

    // Delete: asks first.
    const std::optional<SessionStatusSnapshot>& deleteConfirmation() const { return deleteTarget_; }
    void requestDelete(const SessionStatusSnapshot& snapshot);
    void cancelDelete();
    void confirmDelete();
    void deleteSessionImmediately(const SessionStatusSnapshot& snapshot);

    // Close: the sheet, its option (off whenever the sheet opens), and its answer.
    const std::optional<SessionStatusSnapshot>& closeTarget() const { return closeTarget_; }
    bool closeDeleteMediaFiles() const { return closeDeleteMediaFiles_; }
    void setCloseDeleteMediaFiles(bool on) { closeDeleteMediaFiles_ = on; }
    void requestClose(const SessionStatusSnapshot& snapshot);
    void cancelClose();
    void confirmClose(bool deleteMediaFiles);

    // The notice alert (opening a saved session failed).
    const std::optional<std::string>& infoAlertMessage() const { return infoAlertMessage_; }
    void dismissInfoAlert();

    // --- Retry ---
    // Fills the retry values from the session's "session.json" (or the settings when it cannot
    // be read) and opens the dialog with a copy of them.
    void openRetryProviderSelection(const SessionStatusSnapshot& snapshot);
    const RetryFormValues& retryValues() const { return retryValues_; }
    // Saves a typed OpenRouter key, rewrites the session's configuration and steps under the
    // metadata lock, then asks the queue for the retry and refreshes. A file that cannot be
    // rewritten, or a session another run holds meanwhile, is reported and queues nothing.
    void confirmRetryWithProvider(const SessionStatusSnapshot& snapshot,
                                  const RetryProviderSelectionState& state);

  private:
    void rebuildCachesAndApplyFilters();
    void applyFilters();
    void changed(Change change);
    void removeFromSnapshots(const std::filesystem::path& sessionDir);
    void setInFlight(const std::filesystem::path& sessionDir, bool inFlight);
    // Runs `job` on the main thread later only while this model lives.
    std::function<void()> guarded(std::function<void()> job);

    Dependencies deps_;
    AppState& appState_;
    std::function<void(Change)> onChange_;
    bool sessionsLoaded_ = false;
    bool isRefreshing_ = false;
    SessionFilters filters_;
    SessionListFilter filter_;
    std::vector<SessionStatusSnapshot> filtered_;
    std::set<std::string> inFlightSessionPaths_;
    std::optional<SessionStatusSnapshot> deleteTarget_;
    std::optional<SessionStatusSnapshot> closeTarget_;
    bool closeDeleteMediaFiles_ = false;
    std::optional<std::string> infoAlertMessage_;
    RetryFormValues retryValues_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    AppState::ObservationToken snapshotsToken_;
    AppState::ObservationToken countToken_;
};

} // namespace velnote
