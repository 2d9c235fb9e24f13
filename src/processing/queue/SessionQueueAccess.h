#pragma once

#include "processing/queue/ProcessingQueueHooks.h"

#include <filesystem>
#include <functional>

namespace velnote {

// What the processing queue lends to the user's actions on session folders. Each function is
// called on the queue's executor, synchronously inside the action, so the "is it running" test
// and the change of the pending list happen without another queue operation in between.
struct SessionQueueAccess {
    // Whether the queue is processing `sessionDir` now (compared by path equality).
    std::function<bool(const std::filesystem::path& sessionDir)> isRunning;
    // Drops every occurrence of `sessionDir` from the pending list.
    std::function<void(const std::filesystem::path& sessionDir)> removePending;
    // Asks for the status snapshots to be rebuilt from the queue's state of this moment and
    // published; the build runs elsewhere, in order, and this returns at once.
    std::function<void(SnapshotPush push)> pushSnapshots;
};

} // namespace velnote
