#pragma once

// Builds the status snapshots of every session folder in the working folder and the
// saved-sessions folder, newest first. A session whose "session.json" keeps the modification time
// it had at its last build, and that is neither running nor pending, is taken from the cache
// (with its lock and closed flags looked at anew); the others are read in parallel.
//
// Thread-safe: the cache is guarded, files are read without the metadata lock (writers replace
// "session.json" atomically), and two builds may overlap.

#include "platform/concurrency/Executor.h"
#include "platform/fs/Files.h"
#include "session/folder/SessionDirectoryResolver.h"
#include "session/folder/SessionStatusSnapshot.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace velnote {

// A session folder found by a scan, in canonical form (symbolic links resolved, normalised).
struct SessionScanEntry {
    std::filesystem::path canonicalDir;
    bool isClosed = false; // found in the saved-sessions folder

    bool operator==(const SessionScanEntry&) const = default;
};

struct SnapshotCacheEntry {
    platform::FileTime mtime; // of "session.json", taken right after the snapshot was built
    SessionStatusSnapshot snapshot;
};

class SessionSnapshotBuilder {
  public:
    using PathSet = std::set<std::filesystem::path>;

    struct Dependencies {
        // The working folder; empty = SessionDirectoryResolver::resolveWorkingDir().
        std::function<std::filesystem::path()> workingDir;
        // The saved-sessions folder; empty = SessionDirectoryResolver::resolveUserDir().
        std::function<ResolvedDirectory()> userDirResolver;
        // Runs the parallel reads; nullptr = the shared pool at utility priority. The building
        // thread reads too, so a busy executor slows a build but never blocks it.
        platform::Executor* readExecutor = nullptr;
    };

    struct ScanResult {
        std::vector<SessionScanEntry> entries;               // working sessions first, each folder once
        std::map<std::string, std::int64_t> subfolderCounts; // canonical scan folder → its subfolders
    };

    explicit SessionSnapshotBuilder(Dependencies dependencies);
    SessionSnapshotBuilder() : SessionSnapshotBuilder(Dependencies{}) {}

    // Every session's snapshot, newest `createdAt` first (stable). `runningDirs` and `pendingDirs`
    // are the queue's folders as it holds them; a folder held under another spelling than its
    // canonical form counts as neither.
    std::vector<SessionStatusSnapshot> snapshotAll(const PathSet& runningDirs, const PathSet& pendingDirs);
    // The same over the given folders instead of the dependencies' (the saved folder's access is
    // released afterwards): for a build away from the thread that knows where the folders are.
    std::vector<SessionStatusSnapshot> snapshotAll(const std::filesystem::path& workingDir,
                                                   const ResolvedDirectory& saved, const PathSet& runningDirs,
                                                   const PathSet& pendingDirs);

    // The subfolders of `scanDirs` in listing order, hidden entries skipped; a folder reached
    // twice is listed from the first scan folder. An unlistable scan folder is logged and counts
    // as empty. Only scan folders and subfolders that are symbolic links are resolved; a plain
    // subfolder is its canonical scan folder's child. Whether a subfolder is a session (holds a
    // "session.json") is told when its snapshot is built, in parallel with the others.
    static ScanResult scanSessionEntries(const std::vector<std::filesystem::path>& scanDirs,
                                         const std::filesystem::path& savedRoot);

    // One snapshot from the folder's "session.json"; std::nullopt (logged) when it cannot be
    // read or decoded.
    static std::optional<SessionStatusSnapshot> buildSessionStatusSnapshot(const SessionScanEntry& entry,
                                                                           const PathSet& runningDirs,
                                                                           const PathSet& pendingDirs);

    // The file's modification time; FileTime::min() when it cannot be read.
    static platform::FileTime sessionJSONMtime(const std::filesystem::path& file);

    // Symbolic links resolved where the path exists, then normalised.
    static std::filesystem::path canonical(const std::filesystem::path& path);

  private:
    struct Built {
        std::vector<SessionStatusSnapshot> snapshots;
        std::size_t cachedCount = 0;
        std::size_t rebuiltCount = 0;
    };

    Built buildSnapshotsDifferentially(const std::vector<SessionScanEntry>& entries,
                                       const PathSet& runningDirs, const PathSet& pendingDirs);

    using CachedEntry = std::shared_ptr<const SnapshotCacheEntry>;

    Dependencies dependencies_;
    std::mutex mutex_;
    // By canonical folder; entries are shared, never changed, so a build takes them without copies.
    std::unordered_map<std::string, CachedEntry> cache_;
};

} // namespace velnote
