#pragma once

// Earlier summaries of a session, kept in its "summary_versions" folder.
// Before a new "summary.md" replaces the current one, archiveCurrent() copies
// the current summary and its "summary_config.json" there under the UTC time
// ("2025-01-31T09-15-00Z.md" and ".json", "_2" ... "_999" or "_<UUID>" when
// taken). Nothing is ever deleted or renamed here, and nothing is locked: a
// copy never replaces an existing file, so two archives cannot overwrite
// each other.

#include "platform/concurrency/SystemClock.h"
#include "session/folder/SummaryRunConfig.h"
#include "session/folder/SummaryVersion.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace velnote {

class SummaryVersionStore {
  public:
    SummaryVersionStore() = delete;

    // Copies "summary.md" (and "summary_config.json", when present) into
    // "summary_versions" under the time `clock.wallNow()`. Does nothing without
    // a "summary.md". Throws std::filesystem::filesystem_error when the folder
    // cannot be created or the summary cannot be copied; a configuration that
    // cannot be copied is logged and skipped.
    static void archiveCurrent(const std::filesystem::path& sessionDir,
                               const platform::Clock& clock = platform::SystemClock::shared());

    // The current summary first, then the archived ".md" files (hidden files
    // skipped), newest first; equal dates keep the listing order. Never throws.
    static std::vector<SummaryVersion> allVersions(const std::filesystem::path& sessionDir);

    // Writes "summary_config.json" compactly and atomically. Failures are logged.
    static void saveRunConfig(const SummaryRunConfig& config, const std::filesystem::path& sessionDir);

    // The archive name for `time`: "yyyy-MM-ddTHH-mm-ssZ" in UTC.
    static std::string archiveStamp(std::chrono::system_clock::time_point time);
    // The time an archive name stands for, when the whole name is a stamp.
    static std::optional<std::chrono::sys_seconds> parseArchiveStamp(std::string_view name);
};

} // namespace velnote
