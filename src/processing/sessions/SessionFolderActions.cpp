#include "processing/sessions/SessionFolderActions.h"

#include "platform/concurrency/SystemClock.h"
#include "platform/error/DomainError.h"
#include "platform/fs/Files.h"
#include "processing/sessions/SessionMediaCleanup.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/l10n/L10n.h"

#include <map>
#include <tuple>

namespace velnote {
namespace {

namespace fs = std::filesystem;

std::string nameOf(const fs::path& dir) {
    return dir.filename().string();
}

// Calls the folder's releaseAccess once, whichever way the caller leaves.
class AccessRelease {
  public:
    explicit AccessRelease(std::function<void()> release) : release_(std::move(release)) {}
    ~AccessRelease() {
        if (release_)
            release_();
    }
    AccessRelease(const AccessRelease&) = delete;
    AccessRelease& operator=(const AccessRelease&) = delete;

  private:
    std::function<void()> release_;
};

// What identifies a tree for the copy check: each entry's relative path with its type, its size
// (files) or target (links).
using TreeListing = std::map<std::string, std::tuple<fs::file_type, std::uintmax_t, std::string>>;

TreeListing listTree(const fs::path& root) {
    TreeListing listing;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const auto status = it->symlink_status();
        std::uintmax_t size = 0;
        std::string target;
        if (fs::is_regular_file(status))
            size = it->file_size();
        if (fs::is_symlink(status))
            target = fs::read_symlink(it->path()).string();
        listing[fs::relative(it->path(), root).string()] = {status.type(), size, target};
    }
    return listing;
}

void ensureFolder(const fs::path& folder, std::string_view failureMessage) {
    try {
        platform::createDirectories(folder);
        SessionDirectoryResolver::applyFileProtection(folder);
    } catch (const std::system_error& e) {
        VelnoteLogger::processing().error(failureMessage, nameOf(folder), e.code().message());
    }
}

} // namespace

SessionFolderActions::SessionFolderActions(SessionQueueAccess queue, Dependencies dependencies)
    : queue_(std::move(queue)), dependencies_(std::move(dependencies)) {
    if (!dependencies_.workingDir)
        dependencies_.workingDir = [] { return SessionDirectoryResolver::resolveWorkingDir(); };
    if (!dependencies_.userDirResolver) {
        dependencies_.userDirResolver = [] { return SessionDirectoryResolver::resolveUserDir(); };
    }
    if (!dependencies_.clock)
        dependencies_.clock = &platform::SystemClock::shared();
}

void SessionFolderActions::closeSession(const fs::path& sessionDir, SessionMedia media) {
    const auto& log = VelnoteLogger::processing();
    if (queue_.isRunning(sessionDir))
        return;
    queue_.removePending(sessionDir);
    if (!passLock(sessionDir, "failed to clear stale lock for close: {}: {}"))
        return;

    const auto savedRoot = dependencies_.userDirResolver();
    AccessRelease release(savedRoot.releaseAccess);
    ensureFolder(savedRoot.url, "failed to create destination directory: {}: {}");
    const auto destination = uniqueDestinationURL(savedRoot.url / sessionDir.filename());
    try {
        moveDirectory(sessionDir, destination);
    } catch (const fs::filesystem_error& e) {
        log.error("failed to close session: {} error={}", nameOf(sessionDir), e.code().message());
        return;
    }
    SessionDirectoryResolver::applyFileProtection(destination);

    if (media == SessionMedia::remove) {
        SessionMediaCleanup::deleteSessionMediaFiles(destination);
        try {
            SessionMetadataStore::update(destination, [](SessionMetadata& m) { m.mediaFilesDeleted = true; });
        } catch (const std::exception& e) {
            log.error("failed to update mediaFilesDeleted flag: {}: {}", nameOf(destination), e.what());
        }
    }
    queue_.pushSnapshots(SnapshotPush::forced);
}

void SessionFolderActions::openSavedSession(const fs::path& sessionDir) {
    if (queue_.isRunning(sessionDir))
        return;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(sessionDir, error))) {
        throw platform::DomainError("Velnote", 1,
                                    L10n::localized("L10n.Processing.sessionNotFound", "Session not found."));
    }
    if (!allItemsAreLocal(sessionDir)) {
        throw platform::DomainError("Velnote", 2,
                                    L10n::localized("L10n.Processing.sessionFilesMissing",
                                                    "Not all files in the session are available locally."));
    }
    const auto workingDir = dependencies_.workingDir();
    ensureFolder(workingDir, "failed to create working directory: {}: {}");
    const auto destination = uniqueDestinationURL(workingDir / sessionDir.filename());
    moveDirectory(sessionDir, destination);
    SessionDirectoryResolver::applyFileProtection(destination);
    queue_.pushSnapshots(SnapshotPush::throttled);
}

void SessionFolderActions::deleteSession(const fs::path& sessionDir) {
    const auto& log = VelnoteLogger::processing();
    if (queue_.isRunning(sessionDir)) {
        log.error("deleteSession blocked: session is running: {}", nameOf(sessionDir));
        return;
    }
    queue_.removePending(sessionDir);
    if (!passLock(sessionDir, "failed to clear stale lock for delete: {}: {}")) {
        log.error("deleteSession blocked: non-stale lock exists: {}", nameOf(sessionDir));
        return;
    }
    try {
        removeAll(sessionDir);
    } catch (const fs::filesystem_error& e) {
        log.error("failed to delete session: {}: {}", nameOf(sessionDir), e.code().message());
    }
    queue_.pushSnapshots(SnapshotPush::forced);
}

fs::path SessionFolderActions::uniqueDestinationURL(const fs::path& wanted) {
    const auto base = wanted.stem().string();
    const auto suffix = wanted.extension().string();
    auto candidate = wanted;
    std::error_code error;
    for (int n = 1; fs::exists(fs::symlink_status(candidate, error)); ++n) {
        candidate = wanted.parent_path() / (base + "-" + std::to_string(n) + suffix);
    }
    return candidate;
}

void SessionFolderActions::moveDirectory(const fs::path& from, const fs::path& to) const {
    const auto& log = VelnoteLogger::processing();
    try {
        rename(from, to);
        return;
    } catch (const fs::filesystem_error& e) {
        log.error("moveItem failed, falling back to copy+remove: {}: {}", nameOf(from), e.code().message());
    }

    try {
        fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        if (listTree(from) != listTree(to)) {
            throw fs::filesystem_error("the copy differs from the original", from, to,
                                       std::make_error_code(std::errc::io_error));
        }
    } catch (const fs::filesystem_error&) {
        std::error_code ignored;
        fs::remove_all(to, ignored); // the source is whole; a partial copy would only mislead
        throw;
    }

    // Set the source aside before removing it: a removal that stops half-way then leaves a hidden
    // leftover, not a damaged session that scans would find and the copy's rollback would orphan.
    const auto aside = uniqueDestinationURL(from.parent_path() / ("." + nameOf(from) + ".moved"));
    try {
        rename(from, aside);
    } catch (const fs::filesystem_error&) {
        try {
            removeAll(to);
        } catch (const fs::filesystem_error& e) {
            log.error("failed to rollback copied item at {}: {}", to.string(), e.code().message());
        }
        throw;
    }
    try {
        removeAll(aside);
    } catch (const fs::filesystem_error& e) {
        log.error("failed to remove the moved session's old copy at {}: {}", aside.string(),
                  e.code().message());
    }
}

bool SessionFolderActions::allItemsAreLocal(const fs::path& item) {
    if (fs::is_directory(fs::symlink_status(item))) {
        for (auto it = fs::recursive_directory_iterator(item); it != fs::recursive_directory_iterator();
             ++it) {
            (void)it->symlink_status();
        }
    }
    return true;
}

void SessionFolderActions::rename(const fs::path& from, const fs::path& to) const {
    if (dependencies_.fileOperations.rename) {
        dependencies_.fileOperations.rename(from, to);
    } else {
        fs::rename(from, to);
    }
}

void SessionFolderActions::removeAll(const fs::path& folder) const {
    if (dependencies_.fileOperations.removeAll) {
        dependencies_.fileOperations.removeAll(folder);
    } else {
        fs::remove_all(folder);
    }
}

bool SessionFolderActions::passLock(const fs::path& sessionDir, std::string_view clearFailureMessage) const {
    std::error_code error;
    if (!fs::exists(SessionLock::fileIn(sessionDir), error))
        return true;
    if (!SessionLock::isStale(sessionDir, *dependencies_.clock))
        return false;
    try {
        SessionLock::clearStale(sessionDir, *dependencies_.clock);
    } catch (const std::exception& e) {
        VelnoteLogger::processing().error(clearFailureMessage, nameOf(sessionDir), e.what());
    }
    return true;
}

} // namespace velnote
