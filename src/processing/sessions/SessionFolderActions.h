#pragma once

// The user's actions that move or remove a session folder: closing it into the saved-sessions
// folder (optionally without its media), reopening a saved one into the working folder, and
// deleting one. None touches a session the queue is processing; closing and deleting also leave
// a folder alone whose "session.lock" is held by a live owner. Closing and deleting report
// failures only to the log ("processing" category); reopening throws them.
//
// The file work runs synchronously on the caller's thread, the queue's executor.

#include "platform/concurrency/Clock.h"
#include "processing/queue/SessionQueueAccess.h"
#include "session/folder/SessionDirectoryResolver.h"

#include <filesystem>
#include <functional>

namespace velnote {

// What closing a session does with its recordings and unreferenced screenshots.
enum class SessionMedia { keep, remove };

class SessionFolderActions {
  public:
    // Seams for the file operations a test needs to make fail; empty means the real one.
    struct FileOperations {
        // Renames in one step (std::filesystem::rename); throws std::filesystem::filesystem_error.
        std::function<void(const std::filesystem::path& from, const std::filesystem::path& to)> rename;
        // Removes a folder with its content; throws std::filesystem::filesystem_error.
        std::function<void(const std::filesystem::path& folder)> removeAll;
    };

    struct Dependencies {
        // The working folder; empty = SessionDirectoryResolver::resolveWorkingDir().
        std::function<std::filesystem::path()> workingDir;
        // The saved-sessions folder; empty = SessionDirectoryResolver::resolveUserDir().
        std::function<ResolvedDirectory()> userDirResolver;
        const platform::Clock* clock = nullptr; // judges lock staleness; nullptr = the system clock
        FileOperations fileOperations;
    };

    SessionFolderActions(SessionQueueAccess queue, Dependencies dependencies);

    // Moves the folder into the saved-sessions folder under a free name ("-1", "-2", ... on a
    // clash), then deletes its media when asked (SessionMedia::remove) and records
    // "mediaFilesDeleted". Drops the folder from the pending list even when the move is then
    // blocked by a live lock.
    void closeSession(const std::filesystem::path& sessionDir, SessionMedia media);

    // Moves a saved session back into the working folder under a free name. Throws DomainError
    // ("Velnote", 1) when the folder does not exist, ("Velnote", 2) when not all of it is on this
    // computer, and std::filesystem::filesystem_error when the move fails.
    void openSavedSession(const std::filesystem::path& sessionDir);

    // Removes the folder for good (unless running or held by a live lock).
    void deleteSession(const std::filesystem::path& sessionDir);

    // `wanted` when nothing exists there, else the first free "<stem>-<n><extension>", n from 1.
    static std::filesystem::path uniqueDestinationURL(const std::filesystem::path& wanted);

    // Moves a folder, across file systems too: a rename, else a copy that is checked against the
    // source (same entries, types, sizes and link targets) before the source goes. The source is
    // first renamed aside inside its own folder, so that a removal failing half-way never leaves a
    // partial session where the original was: when that rename fails the copy is removed again
    // and the source stays whole; when only the removal of the set-aside leftover fails the move
    // has happened and the leftover (a hidden folder) is logged. Throws
    // std::filesystem::filesystem_error; after a throw the source is complete.
    void moveDirectory(const std::filesystem::path& from, const std::filesystem::path& to) const;

    // Whether the item and everything below it is on this computer. Linux has no cloud-only
    // files, so this is true whenever the tree can be read; a read failure is thrown.
    static bool allItemsAreLocal(const std::filesystem::path& item);

  private:
    void rename(const std::filesystem::path& from, const std::filesystem::path& to) const;
    void removeAll(const std::filesystem::path& folder) const;
    // False when the folder's lock is held by a live owner; clears a stale one (failures logged
    // with `clearFailureMessage`).
    bool passLock(const std::filesystem::path& sessionDir, std::string_view clearFailureMessage) const;

    SessionQueueAccess queue_;
    Dependencies dependencies_;
};

} // namespace velnote
