#pragma once

// Where session folders live and what they are called.
//
// Working sessions: <Application Support>/WorkingSessions.
// Saved sessions: the folder the user chose (settings "audioDir" and
// "audioDirBookmark"), else <Application Support>/Sessions. There is no cloud
// container on Linux. Without an Application Support folder (no home folder)
// the default folders throw platform::NoHomeFolderError.
//
// Every operation computes paths only and creates nothing; all are
// synchronous, keep no state between calls and may run on any thread.

#include "platform/settings/SettingsStore.h"
#include "platform/settings/SettingsValue.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace velnote {

struct ResolvedDirectory {
    std::filesystem::path url{};
    // Set only for the user's chosen folder: the holder calls it once when it
    // no longer needs the folder. Empty for the default folders.
    std::function<void()> releaseAccess{};
};

class SessionDirectoryResolver {
  public:
    // Receives the user-facing text when the chosen saved-sessions folder can
    // no longer be used. Called on the resolving thread, which must not wait
    // for the user: the application binds it to post an error alert to the
    // main thread. That alert must leave a running recording alone (the
    // capture goes on); only without a recording may it be treated as fatal.
    using ErrorReporter = std::function<void(const std::string& message)>;

    static constexpr const char* kAudioDirKey = "audioDir";
    static constexpr const char* kAudioDirBookmarkKey = "audioDirBookmark";

    SessionDirectoryResolver() = delete;

    // Replaces the reporter; an empty function drops reports.
    static void setErrorReporter(ErrorReporter reporter);

    static std::filesystem::path resolveWorkingDir();

    // The user's chosen folder when its bookmark resolves and the folder is
    // accessible (a stale bookmark is refreshed); otherwise the default folder.
    // A chosen folder that failed is forgotten (both settings keys removed)
    // and reported once. Throws only NoHomeFolderError, for the default folder.
    static ResolvedDirectory
    resolveUserDir(platform::SettingsStore& defaults = platform::SettingsStore::standard());

    // Makes `folder` reachable by its owner only (mode 0700). Failures are logged.
    static void applyFileProtection(const std::filesystem::path& folder);

    // The folder name of a recording started at `startedAt`: its UTC time with
    // whole seconds and every ":" replaced by "-", e.g. "2025-01-31T09-15-00Z".
    static std::string sessionDirName(std::chrono::system_clock::time_point startedAt);

    // The steps of resolveUserDir.
    static std::optional<ResolvedDirectory> resolveBookmark(const platform::SettingsData& data,
                                                            platform::SettingsStore& defaults);
    static ResolvedDirectory resolveFallbackDir();
    static void refreshStaleBookmark(const std::filesystem::path& folder, platform::SettingsStore& defaults);
    static void handleBookmarkFailure(platform::SettingsStore& defaults);
};

} // namespace velnote
