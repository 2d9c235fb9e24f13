#pragma once

// Decides when the status snapshots are built and handed to the user interface. An unforced
// request within 1.5 s of the start of the previous build is dropped (not deferred); a list whose
// fingerprint equals the last published one is not published unless forced. Publishing hands the
// list to the main thread without waiting.

#include "platform/concurrency/Clock.h"
#include "platform/concurrency/Executor.h"
#include "processing/queue/ProcessingQueueHooks.h"
#include "session/folder/SessionStatusSnapshot.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace velnote {

class SnapshotPublisher {
  public:
    using Snapshots = std::vector<SessionStatusSnapshot>;

    static constexpr std::chrono::milliseconds kMinInterval{1500};

    struct Dependencies {
        const platform::Clock* clock = nullptr; // nullptr = the system clock
        platform::Executor* mainDispatcher =
            nullptr; // where `publish` runs; nullptr = MainDispatcher::shared()
        // Receives the list on the main thread; empty = AppState::shared().setSessionSnapshots.
        std::function<void(Snapshots)> publish;
    };

    explicit SnapshotPublisher(Dependencies dependencies);
    SnapshotPublisher() : SnapshotPublisher(Dependencies{}) {}

    // Builds with `build` and publishes as described above. Returns whether a list was handed to
    // the main thread. May be called from several threads; the builds are not serialised.
    bool push(SnapshotPush push, const std::function<Snapshots()>& build);

    // One integer over what the list shows: per snapshot its folder, creation time, step statuses
    // and errors, the five flags, headline, duration and the configuration's model, provider,
    // languages and speaker settings. Folder name, manual stop, step times and retry counts and
    // the other configuration fields are left out.
    static std::uint64_t fingerprint(const Snapshots& snapshots);

  private:
    Dependencies dependencies_;
    std::mutex mutex_;
    std::optional<platform::Clock::SteadyTime> lastPublishAt_; // none: never built
    std::optional<std::uint64_t> lastFingerprint_;
};

} // namespace velnote
