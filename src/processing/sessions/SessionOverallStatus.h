#pragma once

#include "session/folder/SessionStatusSnapshot.h"

#include <string>

namespace velnote {

// The one status the session monitor shows for a snapshot, and its label.
class SessionOverallStatus {
  public:
    using Status = SessionStatusSnapshot::OverallStatus;

    SessionOverallStatus() = delete;

    // The first rule that matches: running (isRunning and a step running), failed (a step
    // failed), queued (running or pending in the queue), done (every step that is not skipped is
    // done), stopped (stopped by hand), else pending.
    static Status of(const SessionStatusSnapshot& snapshot);

    // The localized label ("Queued", "Processing", "Done", "Failed", "Stopped", "Pending").
    static std::string label(Status status);
};

} // namespace velnote
