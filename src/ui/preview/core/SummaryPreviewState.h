#pragma once

#include "app/state/AppState.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/Timer.h"
#include "platform/concurrency/TimerScheduler.h"
#include "session/folder/SessionStatusSnapshot.h"
#include "session/folder/SummaryVersion.h"
#include "session/settings/UserDefaults.h"
#include "ui/preview/core/ResummarizeRequest.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// What a re-summarize request asks of the processing queue.
class ResummarizeQueue {
  public:
    virtual ~ResummarizeQueue() = default;
    // Each future is ready once the queue has done the operation.
    virtual std::future<void> retrySummaryOnly(const std::filesystem::path& sessionDir) = 0;
    virtual std::future<void> pushSnapshotsForced() = 0;
};

// The state of one summary window: the session's versions, the one shown, its Markdown (read-only
// or edited with a debounced save to "summary.md"), the re-summarize panel's values and the
// request. The window's widgets show this state and call its operations; `onChange` tells them
// when to look again.
//
// Main thread only (the dispatcher given). File reads and writes run on `files`, one after the
// other in the order asked, and come back to the main thread; an older edit can therefore never
// overwrite a newer one.
class SummaryPreviewState {
  public:
    enum class Tab { preview, source };

    static constexpr std::chrono::milliseconds kSaveDelay{500};

    // Each seam; nullptr or empty means the process-wide one named.
    struct Dependencies {
        AppState* appState = nullptr;               // AppState::shared()
        platform::MainDispatcher* main = nullptr;   // MainDispatcher::shared()
        platform::Executor* files = nullptr;        // a process-wide serial executor for summary files
        platform::Executor* waiting = nullptr;      // waits for the queue; the pool at utility priority
        platform::TimerScheduler* timers = nullptr; // TimerScheduler::shared()
        std::optional<UserDefaults> defaults{};     // the standard settings
        std::shared_ptr<ResummarizeQueue> queue{};  // the processing queue
        // The end of a request: closes the window of a version file, if one is open, and shows the
        // session monitor. Empty: nothing.
        std::function<void(const std::filesystem::path& versionFile)> closeSummaryWindow{};
        std::function<void()> showSessionMonitor{};
    };

    SummaryPreviewState(SessionStatusSnapshot snapshot, std::optional<SummaryVersion> initialVersion,
                        Dependencies dependencies);
    ~SummaryPreviewState();
    SummaryPreviewState(const SummaryPreviewState&) = delete;
    SummaryPreviewState& operator=(const SummaryPreviewState&) = delete;

    // Called after every change of the state below (main thread).
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    // --- State ---
    const SessionStatusSnapshot& snapshot() const { return snapshot_; }
    const std::optional<SummaryVersion>& initialVersion() const { return initialVersion_; }
    const std::vector<SummaryVersion>& versions() const { return versions_; }
    const std::optional<SummaryVersion>& currentVersion() const { return currentVersion_; }
    const std::string& markdownSource() const { return markdownSource_; }
    Tab selectedTab() const { return selectedTab_; }
    bool isLoadingFile() const { return isLoadingFile_; }
    bool isSaving() const { return isSaving_; }
    bool showResummarizePanel() const { return showResummarizePanel_; }
    const ResummarizeSelections& selections() const { return selections_; }
    bool isResummarizing() const { return isResummarizing_; }

    // An archived version, any version of a closed session (as the window was opened), or a file
    // that is there but could not be read as text.
    bool isReadOnly() const;
    // The panel shows only while asked for and editable.
    bool isResummarizePanelShown() const { return showResummarizePanel_ && !isReadOnly(); }
    // "summary.md" of the session: what the Finder button reveals and what edits write.
    std::filesystem::path latestSummaryFile() const;
    // The version picker's text when there is no picker: the current version's label, else "最新".
    std::string currentVersionLabel() const;

    // --- Operations ---

    // The window appeared: lists the versions, loads the initial one (else the newest), then
    // presets the panel from "session.json".
    void start();
    // The version picker chose another version.
    void selectVersion(const SummaryVersion& version);
    void setSelectedTab(Tab tab);
    // The editor's text changed (editable source tab only): saved kSaveDelay after the last edit.
    void editSource(std::string text);
    // The window went away: a save still waiting is written now instead of being dropped.
    void disappear();
    void toggleResummarizePanel();
    // Panel values; no other effect.
    void setSelections(ResummarizeSelections selections);
    // The start button: rewrites "session.json", clears the previous run's leftovers, hands the
    // session to the queue, then closes the latest version's window and shows the monitor.
    void startResummarize();

  private:
    void loadVersion(std::optional<SummaryVersion> version);
    void scheduleSave(std::string text);
    void writeSummary(std::string text, std::uint64_t generation);
    // Writes a save still waiting for its delay now.
    void flushPendingSave();
    void sessionSnapshotsChanged();
    std::optional<StepStatus> publishedSummaryStatus() const;
    void changed();

    SessionStatusSnapshot snapshot_;
    std::optional<SummaryVersion> initialVersion_;
    AppState& appState_;
    platform::MainDispatcher& main_;
    platform::Executor& files_;
    platform::Executor& waiting_;
    platform::TimerScheduler& timers_;
    UserDefaults defaults_;
    std::shared_ptr<ResummarizeQueue> queue_;
    std::function<void(const std::filesystem::path&)> closeSummaryWindow_;
    std::function<void()> showSessionMonitor_;
    std::function<void()> onChange_;

    std::vector<SummaryVersion> versions_;
    std::optional<SummaryVersion> currentVersion_;
    std::string markdownSource_;
    bool shownFileUnreadable_ = false;
    Tab selectedTab_ = Tab::preview;
    bool isLoadingFile_ = true;
    bool isSaving_ = false;
    bool showResummarizePanel_ = false;
    ResummarizeSelections selections_;
    bool isResummarizing_ = false;

    // The debounced save: its timer, the text it will write, and the number of the newest save,
    // whose end alone clears isSaving_.
    platform::Timer saveTimer_;
    std::optional<std::string> pendingSaveText_;
    std::uint64_t saveGeneration_ = 0;

    // The first load also presets the panel from "session.json".
    bool startedLoading_ = false;
    std::optional<StepStatus> lastSummaryStatus_;
    AppState::ObservationToken snapshotsToken_;
    // Jobs that come back to the main thread after this model is gone do nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace velnote
