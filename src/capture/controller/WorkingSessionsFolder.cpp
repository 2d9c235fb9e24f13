#include "capture/controller/WorkingSessionsFolder.h"

#include "platform/fs/AppFolders.h"
#include "platform/fs/Files.h"
#include "platform/json/IsoDate.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionDirectoryResolver.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/settings/UserDefaults.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <system_error>

namespace velnote {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kNameLength = 20; // "2025-01-31T09-15-00Z"
constexpr int kMaxSameSecondFolders = 999;
// About 270 years: no recording is older, and the cutoff still fits the clock's nanoseconds.
constexpr std::int64_t kMaxRetentionDays = 100'000;

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Why an expired session must stay, or none when it may go.
std::optional<std::string> reasonToKeep(const fs::path& sessionDir, const platform::Clock& clock) {
    std::error_code error;
    if (fs::exists(SessionLock::fileIn(sessionDir), error) && !SessionLock::isStale(sessionDir, clock)) {
        return "in use by a running step";
    }
    if (!fs::exists(fs::symlink_status(SessionMetadataStore::fileIn(sessionDir), error))) {
        return std::nullopt; // a folder without a session is nothing the queue could still process
    }
    try {
        const SessionSteps steps = SessionMetadataStore::read(sessionDir).steps;
        for (const StepState* step : {&steps.transcription, &steps.diarization, &steps.summary}) {
            if (step->status == StepStatus::pending || step->status == StepStatus::running) {
                return "processing not finished";
            }
        }
    } catch (const std::exception& e) {
        return std::string("session.json unreadable: ") + e.what();
    }
    return std::nullopt;
}

} // namespace

fs::path WorkingSessionsFolder::resolve() {
    if (const auto support = platform::applicationSupportDirectory()) {
        return *support / "WorkingSessions";
    }
    VelnoteLogger::audio().error(
        "applicationSupportDirectory unavailable, falling back to temporary directory");
    return SessionDirectoryResolver::resolveWorkingDir();
}

fs::path WorkingSessionsFolder::createSessionFolder(const fs::path& workingDir,
                                                    platform::Clock::WallTime startedAt) {
    const std::string base = SessionDirectoryResolver::sessionDirName(startedAt);
    for (int n = 1; n <= kMaxSameSecondFolders; ++n) {
        const fs::path candidate = workingDir / (n == 1 ? base : base + "-" + std::to_string(n));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            return candidate;
        }
        if (error && error != std::errc::file_exists) {
            throw fs::filesystem_error("cannot create the session folder", candidate, error);
        }
    }
    throw fs::filesystem_error("no free session folder name", workingDir / base,
                               std::make_error_code(std::errc::file_exists));
}

std::optional<std::chrono::sys_seconds> WorkingSessionsFolder::startTimeOf(std::string_view folderName) {
    if (folderName.size() < kNameLength) {
        return std::nullopt;
    }
    if (folderName.size() > kNameLength &&
        (folderName[kNameLength] != '-' || !allDigits(folderName.substr(kNameLength + 1)))) {
        return std::nullopt;
    }
    std::string text(folderName.substr(0, kNameLength));
    if (text[13] != '-' || text[16] != '-') {
        return std::nullopt;
    }
    text[13] = ':';
    text[16] = ':';
    return platform::parseIsoDate(text);
}

int WorkingSessionsFolder::cleanupExpiredSessions(const fs::path& folder, platform::SettingsStore& settings,
                                                  const platform::Clock& clock) {
    const std::int64_t days = UserDefaults(settings).integer(UserDefaultsKey::sessionRetentionDays);
    if (days <= 0) {
        return 0;
    }
    const auto cutoff = clock.wallNow() - std::chrono::hours(24) * std::min(days, kMaxRetentionDays);

    std::error_code listError;
    const auto entries = platform::listDirectory(folder, platform::HiddenEntries::skip, listError);
    if (listError) {
        VelnoteLogger::app().error("AudioCaptureManager: failed to list session directory {}: {}",
                                   folder.filename().string(), listError.message());
        return 0;
    }
    int deleted = 0;
    for (const fs::path& entry : entries) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(entry, error);
        if (error) {
            VelnoteLogger::app().error("AudioCaptureManager: failed to read resource values for {}: {}",
                                       entry.filename().string(), error.message());
            continue;
        }
        const auto startedAt = startTimeOf(entry.filename().string());
        if (!fs::is_directory(status) || !startedAt || *startedAt >= cutoff) {
            continue;
        }
        if (const auto reason = reasonToKeep(entry, clock)) {
            VelnoteLogger::app().info("kept expired session {}: {}", entry.filename().string(), *reason);
            continue;
        }
        if (fs::remove_all(entry, error) == static_cast<std::uintmax_t>(-1) || error) {
            VelnoteLogger::app().error("failed to delete expired session: {}", entry.string());
            continue;
        }
        ++deleted;
    }
    if (deleted > 0) {
        VelnoteLogger::app().info("deleted expired sessions count={} retention_days={}", deleted, days);
    }
    return deleted;
}

} // namespace velnote
