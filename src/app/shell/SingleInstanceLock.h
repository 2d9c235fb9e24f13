#pragma once

#include <filesystem>
#include <optional>

namespace velnote {

// The lock that keeps a second copy of the application from running: a whole-file write record
// lock (fcntl) on ".instance.lock" in the application's data folder, holding the owner's process
// id and a line feed. The descriptor is never closed, so the lock lasts until the process exits,
// and the kernel drops it when the process dies however it ends: a stale file never blocks a
// launch.
//
// Record locks belong to the process: a second acquire() in the same process succeeds again.
// Main thread, once at launch.
class SingleInstanceLock {
  public:
    static constexpr const char* kFileName = ".instance.lock";

    SingleInstanceLock() = delete;

    // Takes the lock in `appSupportDir` (created when missing; a failure is logged and the open
    // tried all the same). True when the launch goes on: the lock is held, or no lock could be
    // opened at all (no folder, an unusable file: the launch proceeds unlocked). False when
    // another process holds it, or the lock call failed for another reason.
    static bool acquire(const std::optional<std::filesystem::path>& appSupportDir);

    // The descriptor of the held lock; -1 before a successful acquire().
    static int lockFileDescriptor();
};

} // namespace velnote
