#pragma once

#include "platform/concurrency/Clock.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>

namespace velnote {
namespace platform {
class SettingsStore;
}

// The folder new recordings are made in ("WorkingSessions" in the application's data folder),
// the names of its session folders, and the removal of the sessions the user no longer wants kept
// ("sessionRetentionDays"). Stateless; any thread.
class WorkingSessionsFolder {
  public:
    WorkingSessionsFolder() = delete;

    // <Application Support>/WorkingSessions, else Velnote/WorkingSessions in the temporary folder
    // (logged). Creates nothing.
    static std::filesystem::path resolve();

    // Creates the folder of a recording started at `startedAt` in `workingDir` (which must exist):
    // named by the UTC start time ("2025-01-31T09-15-00Z"), or, when a folder of that name
    // exists already (two starts within one second), the first free "...Z-2", "...Z-3", ....
    // Never reuses an existing folder. Throws std::filesystem::filesystem_error.
    static std::filesystem::path createSessionFolder(const std::filesystem::path& workingDir,
                                                     platform::Clock::WallTime startedAt);

    // The start time a session folder's name gives ("yyyy-MM-ddTHH-mm-ssZ", optionally followed
    // by "-N" from createSessionFolder); none for any other name.
    static std::optional<std::chrono::sys_seconds> startTimeOf(std::string_view folderName);

    // When "sessionRetentionDays" is above 0, deletes each session folder in `folder` whose name
    // gives a start time more than that many days before now; returns how many. A session is
    // kept while it holds a live "session.lock", while a step in its "session.json" is pending or
    // running (work not yet done), and while its "session.json" exists but cannot be read (its
    // state is unknown). Hidden entries, plain files and symbolic links are never touched.
    // Failures are logged; never throws.
    static int cleanupExpiredSessions(const std::filesystem::path& folder, platform::SettingsStore& settings,
                                      const platform::Clock& clock);
};

} // namespace velnote
