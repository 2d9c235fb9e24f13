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
    log.info("snapshotAll total={} cached={} rebuilt={}", scan.entries.size(), built.cachedCount,
             scan.entries.size() - built.cachedCount);
    for (const auto& [dir, count] : scan.subfolderCounts) {
        log.debug("snapshotAll scanDir={} dirCount={}", dir, count);
    }
    std::ranges::stable_sort(built.snapshots, std::greater<>{}, &SessionStatusSnapshot::createdAt);
    if (saved.releaseAccess)
        saved.releaseAccess();
    return std::move(built.snapshots);
}

SessionSnapshotBuilder::ScanResult
SessionSnapshotBuilder::scanSessionEntries(const std::vector<fs::path>& scanDirs, const fs::path& savedRoot) {
    ScanResult result;
    std::set<fs::path> seen;
    for (const auto& scanDir : scanDirs) {
        const auto canonicalScanDir = canonical(scanDir);
        std::vector<fs::path> subfolders;
        std::error_code error;
        for (const auto& path : platform::listDirectory(scanDir, platform::HiddenEntries::skip, error)) {
            std::error_code unreadable;
            if (fs::is_directory(path, unreadable))
                subfolders.push_back(path);
        }
        if (error) {
            VelnoteLogger::processing().error("failed to list scan directory: {}: {}",
                                              scanDir.filename().string(), error.message());
        }
        result.subfolderCounts[canonicalScanDir.string()] = static_cast<std::int64_t>(subfolders.size());
        const bool isClosed = canonicalScanDir == savedRoot;
        for (const auto& subfolder : subfolders) {
            auto dir = canonical(subfolder);
            if (!seen.insert(dir).second)
                continue;
            std::error_code missing;
            if (fs::exists(SessionMetadataStore::fileIn(dir), missing)) {
                result.entries.push_back({std::move(dir), isClosed});
            }
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
    std::map<fs::path, SnapshotCacheEntry> currentCache;
    {
        std::lock_guard lock(mutex_);
        currentCache = cache_;
    }
    Built built;
    std::map<fs::path, SnapshotCacheEntry> newCache;
    std::vector<SessionScanEntry> toRebuild;
    for (const auto& entry : entries) {
        const auto& dir = entry.canonicalDir;
        const auto cached = currentCache.find(dir);
        if (runningDirs.contains(dir) || pendingDirs.contains(dir) || cached == currentCache.end() ||
            sessionJSONMtime(SessionMetadataStore::fileIn(dir)) != cached->second.mtime) {
            toRebuild.push_back(entry);
            continue;
        }
        auto snapshot = cached->second.snapshot;
        snapshot.isRunning = false;
        snapshot.isPending = false;
        snapshot.isClosed = entry.isClosed;
        std::error_code missing;
        snapshot.hasLock = fs::exists(SessionLock::fileIn(dir), missing);
        built.snapshots.push_back(std::move(snapshot));
        newCache.emplace(dir, cached->second);
    }
    for (auto& rebuilt : loadSessionStatusSnapshots(toRebuild, runningDirs, pendingDirs)) {
        built.snapshots.push_back(rebuilt.snapshot);
        if (rebuilt.mtime != platform::FileTime::min()) {
            auto key = rebuilt.snapshot.id;
            newCache.insert_or_assign(std::move(key), std::move(rebuilt));
        }
    }
    {
        std::lock_guard lock(mutex_);
        std::erase_if(cache_, [&](const auto& item) { return !newCache.contains(item.first); });
        for (auto& [dir, fresh] : newCache) {
            const auto stored = cache_.find(dir);
            if (stored == cache_.end() || stored->second.mtime < fresh.mtime) {
                cache_.insert_or_assign(dir, std::move(fresh));
            }
        }
    }
    built.cachedCount = entries.size() - toRebuild.size();
    return built;
}

std::vector<SnapshotCacheEntry>
SessionSnapshotBuilder::loadSessionStatusSnapshots(const std::vector<SessionScanEntry>& entries,
                                                   const PathSet& runningDirs, const PathSet& pendingDirs) {
    std::vector<std::optional<SnapshotCacheEntry>> slots(entries.size());
    forEachInParallel(entries.size(), *dependencies_.readExecutor, [&](std::size_t i) {
        if (auto snapshot = buildSessionStatusSnapshot(entries[i], runningDirs, pendingDirs)) {
            const auto mtime = sessionJSONMtime(SessionMetadataStore::fileIn(snapshot->id));
            slots[i] = SnapshotCacheEntry{mtime, std::move(*snapshot)};
        }
    });
    std::vector<SnapshotCacheEntry> loaded;
    for (auto& slot : slots) {
        if (slot)
            loaded.push_back(std::move(*slot));
    }
    return loaded;
}

} // namespace velnote
