#pragma once

// "session.lock": marks that a process is working on a session and in which
// step. Taken by creating the file exclusively (the only test-and-set, across
// threads and processes alike), released by deleting it. A lock whose owner
// process is gone, or whose content stays unreadable for 10 seconds, is stale.

#include "platform/concurrency/SystemClock.h"
#include "platform/json/IsoDate.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace velnote {

struct SessionLockContent {
    std::int64_t pid = 0;                  // owner process id
    std::chrono::sys_seconds acquiredAt{}; // when the lock was taken
    std::string step;                      // "start", "transcription", "summary" or any text

    bool operator==(const SessionLockContent&) const = default;
};

// All three keys required; compact JSON on one line.
void to_json(platform::Json& j, const SessionLockContent& c);
void from_json(const platform::Json& j, SessionLockContent& c);

class SessionLock {
  public:
    SessionLock() = delete;

    // An unreadable lock younger than this may still be being written.
    static constexpr std::chrono::seconds kGracePeriod{10};
    // What this program writes is one short line; anything larger is not a lock of ours.
    static constexpr std::size_t kMaxFileBytes = 64 * 1024;

    // `sessionDir` / "session.lock".
    static std::filesystem::path fileIn(const std::filesystem::path& sessionDir);

    // Creates "session.lock" exclusively (mode 0600) with this process's id,
    // `clock.wallNow()` and `step`. True when this call created the file; false
    // when it exists or cannot be created (folder missing, no permission).
    static bool acquire(const std::filesystem::path& sessionDir, std::string_view step,
                        const platform::Clock& clock = platform::SystemClock::shared());

    // Deletes the lock whoever owns it. Never throws; failures other than a
    // missing file are logged.
    static void release(const std::filesystem::path& sessionDir);

    // True when the lock is missing or unreadable (no regular file, or larger
    // than kMaxFileBytes, included), its owner process does not
    // exist (or is not one this user may signal), or its content does not
    // decode and the file is at least kGracePeriod old by `clock` (birth time
    // where the file system has one, else modification time).
    static bool isStale(const std::filesystem::path& sessionDir,
                        const platform::Clock& clock = platform::SystemClock::shared());

    // Releases the lock, then repairs under SessionMetadataStore::updateLock()
    // the steps its vanished owner left "running": a step whose result file
    // exists becomes done (completedAt set to now when missing), the others
    // become fresh pending or skipped by the configuration. Does not test
    // staleness. Throws the metadata update's error (the lock is gone by then).
    static void clearStale(const std::filesystem::path& sessionDir,
                           const platform::Clock& clock = platform::SystemClock::shared());
};

} // namespace velnote
