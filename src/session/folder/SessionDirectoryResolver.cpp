#include "session/folder/SessionDirectoryResolver.h"

#include "platform/fs/AppFolders.h"
#include "platform/json/IsoDate.h"
#include "session/VelnoteLogger.h"
#include "session/folder/FolderBookmark.h"
#include "session/l10n/L10n.h"

#include <algorithm>
#include <mutex>
#include <unistd.h>

namespace velnote {
namespace fs = std::filesystem;

namespace {

std::mutex& reporterMutex() {
    static std::mutex mutex;
    return mutex;
}

SessionDirectoryResolver::ErrorReporter& reporterSlot() {
    static SessionDirectoryResolver::ErrorReporter reporter;
    return reporter;
}

void report(const std::string& message) {
    SessionDirectoryResolver::ErrorReporter reporter;
    {
        std::lock_guard lock(reporterMutex());
        reporter = reporterSlot();
    }
    if (reporter)
        reporter(message);
}

fs::path appFolder(const char* name) {
    return platform::requiredApplicationSupportDirectory() / name;
}

// Linux keeps no sandbox grant to start; the nearest honest test is whether
// this process may use the folder at all.
bool startAccess(const fs::path& folder) {
    std::error_code ec;
    return fs::is_directory(folder, ec) && ::access(folder.c_str(), R_OK | W_OK | X_OK) == 0;
}

} // namespace

void SessionDirectoryResolver::setErrorReporter(ErrorReporter reporter) {
    std::lock_guard lock(reporterMutex());
    reporterSlot() = std::move(reporter);
}

fs::path SessionDirectoryResolver::resolveWorkingDir() {
    return appFolder("WorkingSessions");
}

ResolvedDirectory SessionDirectoryResolver::resolveUserDir(platform::SettingsStore& defaults) {
    if (const auto data = defaults.data(kAudioDirBookmarkKey)) {
        if (auto resolved = resolveBookmark(*data, defaults))
            return std::move(*resolved);
    } else if (const auto audioDir = defaults.string(kAudioDirKey); audioDir && !audioDir->empty()) {
        VelnoteLogger::app().error(
            "SessionDirectoryResolver: audioDir is set but audioDirBookmark is missing.");
        handleBookmarkFailure(defaults);
    }
    return resolveFallbackDir();
}

std::optional<ResolvedDirectory>
SessionDirectoryResolver::resolveBookmark(const platform::SettingsData& data,
                                          platform::SettingsStore& defaults) {
    FolderBookmark::Resolution resolution;
    try {
        resolution = FolderBookmark::resolve(data);
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("SessionDirectoryResolver: failed to resolve bookmark: {}", e.what());
        handleBookmarkFailure(defaults);
        return std::nullopt;
    }
    if (!startAccess(resolution.folder)) {
        VelnoteLogger::app().error(
            "SessionDirectoryResolver: failed to start security-scoped access for audioDirBookmark");
        handleBookmarkFailure(defaults);
        return std::nullopt;
    }
    if (resolution.isStale)
        refreshStaleBookmark(resolution.folder, defaults);
    // Nothing to give back on Linux, but holders still see that this folder
    // came from the user's choice.
    return ResolvedDirectory{resolution.folder, [] {}};
}

ResolvedDirectory SessionDirectoryResolver::resolveFallbackDir() {
    return {appFolder("Sessions"), {}};
}

void SessionDirectoryResolver::refreshStaleBookmark(const fs::path& folder,
                                                    platform::SettingsStore& defaults) {
    try {
        defaults.set(kAudioDirBookmarkKey, FolderBookmark::create(folder));
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("SessionDirectoryResolver: failed to refresh bookmark: {}", e.what());
    }
}

void SessionDirectoryResolver::handleBookmarkFailure(platform::SettingsStore& defaults) {
    const auto audioDir = defaults.string(kAudioDirKey);
    if (!audioDir || audioDir->empty())
        return;
    defaults.remove(kAudioDirKey);
    defaults.remove(kAudioDirBookmarkKey);
    report(L10n::localized(
        "L10n.Directory.bookmarkFailed",
        "Could not access the saved sessions directory '%@'. Permission might have been revoked. "
        "Falling back to the default directory.",
        {*audioDir}));
}

void SessionDirectoryResolver::applyFileProtection(const fs::path& folder) {
    std::error_code ec;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    if (ec) {
        VelnoteLogger::app().error("Failed to apply file protection to {}: {}", folder.filename().string(),
                                   ec.message());
    } else {
        VelnoteLogger::app().debug("Applied file protection (owner only) to {}", folder.filename().string());
    }
}

std::string SessionDirectoryResolver::sessionDirName(std::chrono::system_clock::time_point startedAt) {
    std::string name = platform::formatIsoDate(startedAt);
    std::replace(name.begin(), name.end(), ':', '-');
    return name;
}

} // namespace velnote
