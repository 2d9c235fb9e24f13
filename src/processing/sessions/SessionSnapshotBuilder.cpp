#include "processing/sessions/SessionSnapshotBuilder.h"

#include "platform/concurrency/ThreadPool.h"
#include "platform/fs/Files.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <unordered_set>

namespace velnote {
namespace {

namespace fs = std::filesystem;

// Runs `work(i)` for every i below `count` on `executor` and on the calling thread together, and
// returns when all are done. The caller takes items too, so the result never depends on a free
// worker (a build running on the pool itself cannot wait for the pool).
void forEachInParallel(std::size_t count, platform::Executor& executor,
                       const std::function<void(std::size_t)>& work) {
    struct Progress {
        std::atomic<std::size_t> next{0};
        std::mutex mutex;
        std::condition_variable allDone;
        std::size_t done = 0;
    };
    auto progress = std::make_shared<Progress>();
    auto drain = [progress, count, &work] {
        for (std::size_t i; (i = progress->next.fetch_add(1)) < count;) {
            work(i);
            std::lock_guard lock(progress->mutex);
            if (++progress->done == count)
                progress->allDone.notify_all();
        }
    };
    // Helpers that start after everything is taken find nothing to do and never touch `work`.
    const auto helpers = std::min<std::size_t>(count, 8) - (count > 0 ? 1 : 0);
    for (std::size_t h = 0; h < helpers; ++h) {
        executor.post([progress, count, drain] {
            if (progress->next.load() < count)
                drain();
        });
    }
    drain();
    std::unique_lock lock(progress->mutex);
    progress->allDone.wait(lock, [&] { return progress->done == count; });
}

// Sorted by `createdAt`, newest first (stable), by moving each snapshot once.
std::vector<SessionStatusSnapshot> newestFirst(std::vector<SessionStatusSnapshot> snapshots) {
    std::vector<std::size_t> order(snapshots.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::ranges::stable_sort(order, std::greater<>{}, [&](std::size_t i) { return snapshots[i].createdAt; });
    std::vector<SessionStatusSnapshot> sorted;
    sorted.reserve(snapshots.size());
    for (const std::size_t i : order)
        sorted.push_back(std::move(snapshots[i]));
    return sorted;
}

} // namespace

SessionSnapshotBuilder::SessionSnapshotBuilder(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {
    if (!dependencies_.workingDir)
        dependencies_.workingDir = [] { return SessionDirectoryResolver::resolveWorkingDir(); };
    if (!dependencies_.userDirResolver) {
        dependencies_.userDirResolver = [] { return SessionDirectoryResolver::resolveUserDir(); };
    }
    if (!dependencies_.readExecutor) {
        dependencies_.readExecutor = &platform::ThreadPool::shared().executor(platform::Priority::utility);
    }
}

std::vector<SessionStatusSnapshot> SessionSnapshotBuilder::snapshotAll(const PathSet& runningDirs,
                                                                       const PathSet& pendingDirs) {
    const auto workingDir = dependencies_.workingDir();
    return snapshotAll(workingDir, dependencies_.userDirResolver(), runningDirs, pendingDirs);
}

std::vector<SessionStatusSnapshot> SessionSnapshotBuilder::snapshotAll(const fs::path& workingDir,
                                                                       const ResolvedDirectory& saved,
                                                                       const PathSet& runningDirs,
                                                                       const PathSet& pendingDirs) {
    const auto& log = VelnoteLogger::processing();
    const auto scan = scanSessionEntries({workingDir, saved.url}, canonical(saved.url));
    auto built = buildSnapshotsDifferentially(scan.entries, runningDirs, pendingDirs);
    log.info("snapshotAll total={} cached={} rebuilt={}", built.snapshots.size(), built.cachedCount,
             built.rebuiltCount);
    for (const auto& [dir, count] : scan.subfolderCounts) {
        log.debug("snapshotAll scanDir={} dirCount={}", dir, count);
    }
    if (saved.releaseAccess)
        saved.releaseAccess();
    return newestFirst(std::move(built.snapshots));
}

SessionSnapshotBuilder::ScanResult
SessionSnapshotBuilder::scanSessionEntries(const std::vector<fs::path>& scanDirs, const fs::path& savedRoot) {
    ScanResult result;
    std::unordered_set<std::string> seen;
    for (const auto& scanDir : scanDirs) {
        const auto canonicalScanDir = canonical(scanDir);
        std::vector<fs::path> subfolders; // canonical
        std::error_code error;
        for (fs::directory_iterator it(scanDir, error), end; !error && it != end; it.increment(error)) {
            const fs::path name = it->path().filename();
            if (name.native().starts_with('.'))
                continue;
            std::error_code unreadable;
            if (it->is_symlink(unreadable)) {
                if (fs::is_directory(it->path(), unreadable))
                    subfolders.push_back(canonical(it->path()));
            } else if (it->is_directory(unreadable)) {
                subfolders.push_back(canonicalScanDir / name);
            }
        }
        // A folder not made yet (the saved sessions' before the first save) holds nothing.
        if (error && error != std::errc::no_such_file_or_directory) {
            VelnoteLogger::processing().error("failed to list scan directory: {}: {}",
                                              scanDir.filename().string(), error.message());
        }
        result.subfolderCounts[canonicalScanDir.string()] = static_cast<std::int64_t>(subfolders.size());
        const bool isClosed = canonicalScanDir == savedRoot;
        for (auto& dir : subfolders) {
            if (seen.insert(dir.native()).second)
                result.entries.push_back({std::move(dir), isClosed});
        }
    }
    return result;
}

std::optional<SessionStatusSnapshot>
SessionSnapshotBuilder::buildSessionStatusSnapshot(const SessionScanEntry& entry, const PathSet& runningDirs,
                                                   const PathSet& pendingDirs) {
    SessionMetadata metadata;
    try {
        metadata = SessionMetadataStore::read(entry.canonicalDir);
    } catch (const std::exception& e) {
        VelnoteLogger::processing().error("failed to read session metadata: {}: {}",
                                          entry.canonicalDir.filename().string(), e.what());
        return std::nullopt;
    }
    SessionStatusSnapshot s;
    s.id = entry.canonicalDir;
    s.dirName = entry.canonicalDir.filename().string();
    s.createdAt = metadata.createdAt;
    s.transcription = metadata.steps.transcription;
    s.diarization = metadata.steps.diarization;
    s.summary = metadata.steps.summary;
    s.isRunning = runningDirs.contains(s.id);
    s.isPending = pendingDirs.contains(s.id);
    s.isClosed = entry.isClosed;
    s.isMediaDeleted = metadata.mediaFilesDeleted;
    std::error_code missing;
    s.hasLock = fs::exists(SessionLock::fileIn(entry.canonicalDir), missing);
    s.manuallyStopped = metadata.manuallyStopped;
    s.summaryHeadline = metadata.summaryHeadline;
    s.recordingDuration = metadata.recordingDuration;
    s.config = std::move(metadata.config);
    return s;
}

platform::FileTime SessionSnapshotBuilder::sessionJSONMtime(const fs::path& file) {
    return platform::modificationDate(file).value_or(platform::FileTime::min());
}

fs::path SessionSnapshotBuilder::canonical(const fs::path& path) {
    std::error_code error;
    auto resolved = fs::weakly_canonical(path, error);
    return (error ? path : resolved).lexically_normal();
}

SessionSnapshotBuilder::Built
SessionSnapshotBuilder::buildSnapshotsDifferentially(const std::vector<SessionScanEntry>& entries,
                                                     const PathSet& runningDirs, const PathSet& pendingDirs) {
    // One cached entry (or none) per scanned folder, taken under the lock without copying.
    std::vector<CachedEntry> cached(entries.size());
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto found = cache_.find(entries[i].canonicalDir.native());
            if (found != cache_.end())
                cached[i] = found->second;
        }
    }
    struct Slot {
        std::optional<SessionStatusSnapshot> snapshot;
        CachedEntry entry; // what the cache keeps of it; none for a file without a time
        bool fromCache = false;
    };
    std::vector<Slot> slots(entries.size());
    forEachInParallel(entries.size(), *dependencies_.readExecutor, [&](std::size_t i) {
        const auto& entry = entries[i];
        const auto& dir = entry.canonicalDir;
        const auto mtime = platform::modificationDate(SessionMetadataStore::fileIn(dir));
        if (!mtime)
            return; // not a session (or no longer one)
        Slot& slot = slots[i];
        if (cached[i] && *mtime == cached[i]->mtime && !runningDirs.contains(dir) &&
            !pendingDirs.contains(dir)) {
            auto& snapshot = slot.snapshot.emplace(cached[i]->snapshot);
            snapshot.isRunning = false;
            snapshot.isPending = false;
            snapshot.isClosed = entry.isClosed;
            std::error_code missing;
            snapshot.hasLock = fs::exists(SessionLock::fileIn(dir), missing);
            slot.entry = std::move(cached[i]);
            slot.fromCache = true;
            return;
        }
        slot.snapshot = buildSessionStatusSnapshot(entry, runningDirs, pendingDirs);
        if (!slot.snapshot)
            return;
        // Taken after the read: a write during it shows as a newer time at the next build.
        const auto readMtime = sessionJSONMtime(SessionMetadataStore::fileIn(dir));
        if (readMtime != platform::FileTime::min())
            slot.entry =
                std::make_shared<const SnapshotCacheEntry>(SnapshotCacheEntry{readMtime, *slot.snapshot});
    });
    Built built;
    built.snapshots.reserve(entries.size());
    std::vector<CachedEntry> kept;
    kept.reserve(entries.size());
    for (auto& slot : slots) {
        if (!slot.snapshot)
            continue;
        ++(slot.fromCache ? built.cachedCount : built.rebuiltCount);
        built.snapshots.push_back(std::move(*slot.snapshot));
        if (slot.entry)
            kept.push_back(std::move(slot.entry));
    }
    {
        // Only what this build saw stays; of two overlapping builds the newer file wins.
        std::lock_guard lock(mutex_);
        if (built.rebuiltCount == 0 && kept.size() == cache_.size())
            return built; // every entry came from the cache and each one was seen: nothing to change
        std::unordered_map<std::string, CachedEntry> next;
        next.reserve(kept.size());
        for (auto& entry : kept) {
            const auto stored = cache_.find(entry->snapshot.id.native());
            if (stored != cache_.end() && entry->mtime < stored->second->mtime)
                entry = stored->second;
            const std::string key = entry->snapshot.id.native();
            next.insert_or_assign(key, std::move(entry));
        }
        cache_ = std::move(next);
    }
    return built;
}

} // namespace velnote
