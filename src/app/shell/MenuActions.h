#pragma once

#include "app/shell/ShellWindows.h"
#include "app/state/AppState.h"
#include "capture/controller/RecordingController.h"
#include "session/config/SessionConfig.h"
#include "session/config/SummaryProvider.h"
#include "session/folder/SessionDirectoryResolver.h"

#include <filesystem>
#include <functional>
#include <optional>

namespace velnote {

// What the tray menu's items do, apart from the widgets: the record toggle with its API-key
// check, the window openers and the two folder openers. Main thread only.
class MenuActions {
  public:
    struct Dependencies {
        AppState* appState = nullptr;            // AppState::shared()
        RecordingController* recorder = nullptr; // required
        ShellWindows* windows = nullptr;         // required
        // The configuration a new recording would freeze. Required.
        std::function<SessionConfig()> configForNewRecording{};
        // Whether the provider's API key is present. Empty = validateAPIKey (the keyring).
        std::function<bool(SummaryProvider)> apiKeyPresent{};
        // Where sessions are recorded and where they are saved.
        // Empty = SessionDirectoryResolver::resolveWorkingDir / resolveUserDir.
        std::function<std::filesystem::path()> workingSessionsDir{};
        std::function<ResolvedDirectory()> savedSessionsDir{};
        // Opens a folder in the file manager; false when that could not be asked.
        // Empty = FileManagerReveal::openWithDefaultApplication.
        std::function<bool(const std::filesystem::path&)> openFolder{};
    };

    explicit MenuActions(Dependencies dependencies);

    // Recording: stops it. Idle: checks the API keys of the summary provider, then of the live
    // summary's provider when the live summary is on, and starts a recording when both pass;
    // otherwise presents "API key for <provider> is not configured..." (not fatal) and opens the
    // preferences. Starting, stopping or error: nothing.
    void toggleRecording();

    // The first provider of `config` whose API key is missing: the summary provider, then the live
    // summary's (only when the live summary is on). An empty or unknown provider text passes.
    static std::optional<SummaryProvider>
    providerMissingAPIKey(const SessionConfig& config,
                          const std::function<bool(SummaryProvider)>& apiKeyPresent);

    void openPreferences() { windows_.preferences->show(); }
    void openUserDictionary() { windows_.userDictionary->show(); }
    void openHallucinationFilter() { windows_.hallucinationFilter->show(); }
    void openModelManagement() { windows_.modelManagement->show(); }
    void openSessionMonitor() { windows_.sessionMonitor->show(); }
    void openAbout() { windows_.about->show(); }

    // Create the folder when missing and open it; "Could not open folder" in the status line when
    // that fails.
    void openWorkingSessionsFolder();
    void openSavedSessionsFolder();

  private:
    bool openCreatingFolder(const std::filesystem::path& folder);

    AppState& appState_;
    RecordingController& recorder_;
    ShellWindows& windows_;
    Dependencies dependencies_;
};

} // namespace velnote
