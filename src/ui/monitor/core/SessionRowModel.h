#pragma once

// The state and rules of one row of the session monitor, apart from the widgets: which action
// buttons show and when they are enabled, the view control, the row's expansion, its stop guard,
// its summary versions and its clock. Main thread.

#include "session/folder/SessionStatusSnapshot.h"
#include "session/folder/SummaryVersion.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <vector>

namespace velnote {

class SessionRowModel {
  public:
    using TimePoint = std::chrono::system_clock::time_point;

    struct Button {
        bool shown = false;
        bool enabled = false;
        bool operator==(const Button&) const = default;
    };
    struct Buttons {
        Button retry, stop, remove, close, open, del;
        bool operator==(const Buttons&) const = default;
    };
    enum class ViewControl { none, button, menu };
    // What a version list load was started by: the summary step's status changing (or the row
    // appearing), or the row being expanded.
    enum class VersionLoad { summaryStatus, expansion };

    SessionRowModel(SessionStatusSnapshot snapshot, bool isActionPending, TimePoint now);

    const SessionStatusSnapshot& snapshot() const { return snapshot_; }
    bool isActionPending() const { return isActionPending_; }
    // A newer build of the row for the same folder.
    void update(SessionStatusSnapshot snapshot, bool isActionPending);

    Buttons buttons() const;
    ViewControl viewControl() const;

    bool expanded() const { return expanded_; }
    void toggleExpanded() { expanded_ = !expanded_; }
    // The application's request to show a session expanded: when it names this row's folder the
    // row expands and the request is consumed (true); otherwise nothing changes.
    bool consumeExpandRequest(const std::optional<std::filesystem::path>& request);

    // The stop guard: false (nothing to do) while a stop runs or another action is pending;
    // otherwise marks the stop as running. endStop() when the stop has returned.
    bool beginStop();
    void endStop() { isStopping_ = false; }
    bool isStopping() const { return isStopping_; }

    const std::vector<SummaryVersion>& summaryVersions() const { return summaryVersions_; }
    // Applies a loaded version list: a load started by expansion always; one started by the
    // summary status only when the summary is done or the list is not empty, so an empty reload
    // never takes away a menu the row had.
    void applyVersions(std::vector<SummaryVersion> versions, VersionLoad load);

    TimePoint now() const { return now_; }
    void tick(TimePoint now) { now_ = now; }

  private:
    SessionStatusSnapshot snapshot_;
    bool isActionPending_ = false;
    bool expanded_ = false;
    bool isStopping_ = false;
    TimePoint now_;
    std::vector<SummaryVersion> summaryVersions_;
};

} // namespace velnote
