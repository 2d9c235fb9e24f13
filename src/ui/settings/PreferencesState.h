#pragma once

#include "context/screen/DisplayDirectory.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/Timer.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/settings/SettingsStore.h"
#include "session/config/PromptCatalog.h"
#include "session/keychain/KeychainHelper.h"
#include "ui/settings/AppSettingsViewModel.h"
#include "ui/settings/PermissionStates.h"
#include "ui/settings/ProviderSettingsViewModel.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// What the preferences window works with besides the stored settings; the application binds the
// real services, tests bind recorders. Every action is called on the main thread.
struct PreferencesEnvironment {
    platform::SettingsStore* defaults = nullptr; // required
    KeychainHelper keychain = KeychainHelper();
    std::function<std::vector<AvailableDisplay>()> enumerateDisplays{};   // none: no displays
    std::function<void(const std::string& message)> presentError{};       // a non-fatal alert
    std::function<void(bool enabled)> applyLaunchAtLogin{};               // the autostart entry
    std::function<void(bool enabled)> updateForegroundActivityTracking{}; // the running recording
    std::function<void(const std::string& name)> postNotification{};      // a settings change
    std::function<std::optional<std::filesystem::path>()> chooseDirectory{};
    std::shared_ptr<PermissionProbe> permissions{};
    bool supportsCLIProviders = true; // false in the store flavour
};

// The six stored values a commit compares with the drafts to know what changed.
struct PrevSettings {
    bool launchAtLogin = false;
    bool nightlyBatch = false;
    std::int64_t nightlyBatchHour = 0;
    std::int64_t sessionRetentionDays = 0;
    bool enableAutoMicDetection = true;
    bool foregroundActivityTrackingEnabled = true;

    static PrevSettings read(platform::SettingsStore& defaults);
};

// The preferences window without its widgets: the drafts of the general settings and of the two
// provider settings, how they are loaded, repaired, checked and stored, the sessions folder and
// its bookmark, the change announcements and the permission flags. Nothing is stored while the
// user edits; Save checks and stores everything, Cancel reloads.
//
// Both provider drafts hold most settings under the same keys (all but the model path, the
// OpenRouter model and switch and the command-line model). Stored one after the other, the
// live-summary draft would silently undo an edit made only in the summary block; so before the
// commit, a shared setting edited in one draft only is copied into the other, and when both
// were edited the live-summary one wins, as it is stored last. Afterwards both drafts agree with
// what is stored.
//
// Main thread only; the default-folder label and the slow permission reads come back there.
class PreferencesState {
  public:
    static constexpr const char* kNightlyBatchSettingsChanged = "nightlyBatchSettingsChanged";
    static constexpr const char* kSessionRetentionSettingsChanged = "sessionRetentionSettingsChanged";
    static constexpr const char* kMicDetectionSettingChanged = "micDetectionSettingChanged";

    // The two provider backings read the store and the keyring now.
    explicit PreferencesState(PreferencesEnvironment environment);

    AppSettingsViewModel& viewModel() { return viewModel_; }
    ProviderSettingsViewModel& providerSettings() { return *providerSettings_; }
    ProviderSettingsViewModel& liveSummaryProviderSettings() { return *liveProviderSettings_; }
    const std::vector<AvailableDisplay>& availableDisplays() const { return availableDisplays_; }
    const std::string& defaultAudioDirLabelText() const { return defaultAudioDirLabelText_; }
    const PermissionFlags& permissions() const { return permissions_; }
    bool supportsCLIProviders() const { return environment_.supportsCLIProviders; }
    const std::vector<PromptOption>& summaryPromptPresets() const { return summaryPromptPresets_; }

    // The window was shown: displays, drafts, repairs, permissions and the default-folder label.
    void appear();
    void refreshDisplays();

    void loadDraftsFromStorage();
    void normalizeSummaryPromptSettings();
    void normalizeSummaryProviderSetting();
    void normalizeLiveSummarySettings();
    // What a provider picker's value becomes: "local" for a text that names no provider, or a
    // command-line tool the flavour does not offer; otherwise the text itself.
    std::string normalizedProvider(const std::string& value) const;

    // The message of the first failing check, or none.
    std::optional<std::string> urlError() const;
    std::optional<std::string> pathError() const;
    std::optional<std::string> cliCommandError() const;
    // Checks; on failure shows that message and returns false.
    bool validateURLs();
    bool validatePaths();
    bool validateCLICommands();

    // Save: true when everything was checked and stored; false when a check failed and nothing
    // was stored.
    bool commitDraftsToStorage();
    void commitAudioDirectory();
    void postSettingsNotifications(const PrevSettings& prev);

    // Cancel.
    void cancel() { loadDraftsFromStorage(); }
    // The folder chooser; a chosen folder becomes the draft, stored only by Save.
    void chooseDraftDirectory();

    // The label shown while no folder is chosen.
    static std::string defaultAudioDirLabel();
    std::string summaryPresetLabel(const std::string& id) const;

    void refreshPermissionStates();
    // Refreshes the flags `delay` later on `main`; each call its own timer, let go once it has
    // fired, and those still waiting are cancelled when this state goes.
    void refreshPermissionStatesDeferred(platform::TimerScheduler& timers, platform::Executor& main,
                                         std::chrono::milliseconds delay = std::chrono::milliseconds(500));

    // Called after every change of the flags or the label (the widgets redraw).
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

  private:
    void reconcileSharedProviderDrafts();
    void rememberProviderBaselines();
    void changed() const;

    PreferencesEnvironment environment_;
    AppSettingsViewModel viewModel_;
    std::unique_ptr<ProviderSettingsViewModel> providerSettings_;
    std::unique_ptr<ProviderSettingsViewModel> liveProviderSettings_;
    std::vector<PromptOption> summaryPromptPresets_;
    std::vector<AvailableDisplay> availableDisplays_;
    std::string defaultAudioDirLabelText_;
    PermissionFlags permissions_;
    // What each provider draft held when last loaded or stored, by ProviderSetting.
    std::vector<std::string> summaryBaseline_;
    std::vector<std::string> liveBaseline_;
    std::function<void()> onChange_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::uint64_t nextDeferredRefresh_ = 0;
    std::map<std::uint64_t, platform::Timer> deferredRefreshes_; // last: cancelled before the rest goes
};

} // namespace velnote
