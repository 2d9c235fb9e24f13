#pragma once

#include <filesystem>
#include <functional>

namespace velnote {

// How a request to publish the status snapshots is taken: a throttled one is dropped when it
// comes too soon after the previous build or shows nothing new; a forced one always publishes.
enum class SnapshotPush { throttled, forced };

// What the processing queue calls of the operations that sit on top of it (the status snapshots,
// the completion notification). Each runs on the queue's executor and may use the queue's state
// there (ProcessingQueue::executor()); an empty function does nothing.
struct ProcessingQueueHooks {
    // Has the sessions' status snapshots built and published to AppState; takes what it needs of
    // the queue's state here and builds away from the executor.
    std::function<void(SnapshotPush push)> pushSnapshotsToAppState;
    // After a session's processing ended with success or a failure (not after a cancellation or a
    // lost lock): posts the completion notification of `sessionDir`.
    std::function<void(const std::filesystem::path& sessionDir)> notifyCompletion;
};

} // namespace velnote
