#include "ui/settings/PreferencesState.h"

#include "platform/fs/AppFolders.h"
#include "platform/http/HttpUrl.h"
#include "platform/json/RawValue.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/config/SummaryProvider.h"
#include "session/folder/FolderBookmark.h"
#include "session/folder/SessionDirectoryResolver.h"
#include "session/l10n/L10n.h"
#include "session/settings/UserDefaults.h"
#include "session/settings/UserDefaultsBacking.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

namespace velnote {
namespace {

using Key = UserDefaultsKey;
using S = ProviderSetting;

std::optional<SummaryProvider> providerNamed(const std::string& value) {
    return platform::fromRawValue<SummaryProvider>(value);
}

// The settings each provider draft keeps under a key of its own.
bool isSharedSetting(ProviderSetting setting) {
    switch (setting) {
    case S::localSummaryModelPath:
    case S::openRouterModel:
    case S::openRouterFreeOnly:
    case S::claudeCLIModel:
    case S::copilotCLIModel:
    case S::antigravityCLIModel:
        return false;
    default:
        return true;
    }
}

std::string valueText(const ProviderSettingsViewModel& model, ProviderSetting setting) {
    return isFlag(setting) ? (model.flag(setting) ? "1" : "0") : model.text(setting);
}

void copySetting(const ProviderSettingsViewModel& from, ProviderSettingsViewModel& to,
                 ProviderSetting setting) {
    if (isFlag(setting)) {
        to.setFlag(setting, from.flag(setting));
    } else {
        to.setText(setting, from.text(setting));
    }
}

std::vector<std::string> snapshot(const ProviderSettingsViewModel& model) {
    std::vector<std::string> values;
    for (std::size_t i = 0; i < kProviderSettingCount; ++i) {
        values.push_back(valueText(model, static_cast<ProviderSetting>(i)));
    }
    return values;
}

// An address the HTTP clients can use: http or https spelled in lower case, with a host.
bool isAcceptableURL(const std::string& text) {
    const bool lowerCaseScheme = text.starts_with("http:") || text.starts_with("https:");
    return lowerCaseScheme && platform::parseHttpUrl(text).has_value();
}

} // namespace

PrevSettings PrevSettings::read(platform::SettingsStore& store) {
    const UserDefaults defaults(store);
    return {.launchAtLogin = defaults.boolean(Key::launchAtLogin),
            .nightlyBatch = defaults.boolean(Key::nightlyBatch),
            .nightlyBatchHour = defaults.integer(Key::nightlyBatchHour),
            .sessionRetentionDays = defaults.integer(Key::sessionRetentionDays),
            .enableAutoMicDetection = defaults.boolObject(Key::enableAutoMicDetection, true),
            .foregroundActivityTrackingEnabled =
                defaults.boolObject(Key::foregroundActivityTrackingEnabled, true)};
}

PreferencesState::PreferencesState(PreferencesEnvironment environment)
    : environment_(std::move(environment)), viewModel_(*environment_.defaults),
      providerSettings_(std::make_unique<ProviderSettingsViewModel>(
          std::make_shared<UserDefaultsBacking>(*environment_.defaults, false, environment_.keychain))),
      liveProviderSettings_(std::make_unique<ProviderSettingsViewModel>(
          std::make_shared<UserDefaultsBacking>(*environment_.defaults, true, environment_.keychain))),
      summaryPromptPresets_(PromptCatalog::options()) {
    rememberProviderBaselines();
}

void PreferencesState::appear() {
    refreshDisplays();
    loadDraftsFromStorage();
    normalizeSummaryPromptSettings();
    normalizeSummaryProviderSetting();
    normalizeLiveSummarySettings();
    refreshPermissionStates();
    defaultAudioDirLabelText_ = defaultAudioDirLabel();
    changed();
}

void PreferencesState::refreshDisplays() {
    availableDisplays_ =
        environment_.enumerateDisplays ? environment_.enumerateDisplays() : std::vector<AvailableDisplay>{};
}

void PreferencesState::loadDraftsFromStorage() {
    viewModel_.load();
    providerSettings_->load();
    liveProviderSettings_->load();
    rememberProviderBaselines();
}

void PreferencesState::rememberProviderBaselines() {
    summaryBaseline_ = snapshot(*providerSettings_);
    liveBaseline_ = snapshot(*liveProviderSettings_);
}

void PreferencesState::normalizeSummaryPromptSettings() {
    const std::string mode = viewModel_.summaryPromptMode.get();
    if (mode != "preset" && mode != "custom") {
        viewModel_.summaryPromptMode.set("preset");
    }
    const std::string preset = viewModel_.summaryPromptPreset.get();
    if (std::ranges::none_of(summaryPromptPresets_, [&](const PromptOption& o) { return o.id == preset; })) {
        viewModel_.summaryPromptPreset.set("minutes");
    }
}

std::string PreferencesState::normalizedProvider(const std::string& value) const {
    const auto provider = providerNamed(value);
    if (!provider || (isCommandLineProvider(*provider) && !environment_.supportsCLIProviders)) {
        return "local";
    }
    return value;
}

void PreferencesState::normalizeSummaryProviderSetting() {
    viewModel_.summaryProvider.set(normalizedProvider(viewModel_.summaryProvider.get()));
}

void PreferencesState::normalizeLiveSummarySettings() {
    const std::string value = viewModel_.liveSummaryProvider.get();
    if (!providerNamed(value)) {
        viewModel_.liveSummaryProvider.set("local");
        return;
    }
    viewModel_.liveSummaryProvider.set(normalizedProvider(value));
    if (platform::trimWhitespace(viewModel_.liveSummaryPrompt.get()).empty()) {
        viewModel_.liveSummaryPrompt.set(PromptCatalog::liveSummaryPrompt());
    }
}

std::optional<std::string> PreferencesState::urlError() const {
    const struct {
        std::string value;
        const char* key;
        const char* label;
    } fields[] = {
        {providerSettings_->text(S::openAIBaseURL), "L10n.Preferences.openAIBaseURL", "OpenAI Base URL"},
        {providerSettings_->text(S::copilotBaseURL), "L10n.Preferences.copilotBaseURL", "Copilot Base URL"},
        {providerSettings_->text(S::claudeBaseURL), "L10n.Preferences.claudeBaseURL", "Claude Base URL"},
        {providerSettings_->text(S::ollamaBaseURL), "L10n.Preferences.ollamaServerURL", "Ollama Server URL"},
        {viewModel_.transcriptionProviderBaseURL.get(), "L10n.Preferences.transcriptionProviderBaseURL",
         "Transcription Provider Base URL"},
    };
    for (const auto& field : fields) {
        const std::string trimmed = platform::trimWhitespace(field.value);
        if (!trimmed.empty() && !isAcceptableURL(trimmed)) {
            return L10n::localized(
                "L10n.Preferences.invalidURLError",
                "%@ は無効なURL形式です。\nhttp:// または https:// から始まるURLを指定してください。",
                {L10n::localized(field.key, field.label)});
        }
    }
    return std::nullopt;
}

std::optional<std::string> PreferencesState::pathError() const {
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string audioDir = platform::trimWhitespace(viewModel_.audioDir.get());
    if (!audioDir.empty() && !fs::is_directory(audioDir, error)) {
        return L10n::localized("L10n.Preferences.invalidAudioDirError",
                               "指定されたセッション保存先パスが存在しないか、ディレクトリではありません: "
                               "%@\nパスを確認してください。",
                               {audioDir});
    }
    const struct {
        std::string path;
        const char* key;
        const char* label;
    } models[] = {
        {providerSettings_->text(S::localSummaryModelPath), "L10n.Preferences.summary.localModel",
         "Local Summary Model"},
        {liveProviderSettings_->text(S::localSummaryModelPath), "L10n.Preferences.liveSummary.localModel",
         "Local Live Summary Model"},
    };
    for (const auto& model : models) {
        const std::string path = platform::trimWhitespace(model.path);
        if (!path.empty() && (!fs::exists(path, error) || fs::is_directory(path, error))) {
            return L10n::localized(
                "L10n.Preferences.invalidModelPathError",
                "%@ に指定されたファイルが存在しないか、不正なパスです: %@\nパスを確認してください。",
                {L10n::localized(model.key, model.label), path});
        }
    }
    return std::nullopt;
}

std::optional<std::string> PreferencesState::cliCommandError() const {
    const struct {
        const char* provider;
        ProviderSetting command;
        const char* name;
    } checks[] = {
        {"claude_cli", S::claudeCLICommand, "Claude CLI"},
        {"copilot_cli", S::copilotCLICommand, "Copilot CLI"},
        {"antigravity_cli", S::antigravityCLICommand, "Antigravity CLI"},
    };
    for (const auto& check : checks) {
        const bool used = viewModel_.summaryProvider.get() == check.provider ||
                          viewModel_.liveSummaryProvider.get() == check.provider;
        if (used && platform::trimWhitespace(providerSettings_->text(check.command)).empty()) {
            return L10n::localized("L10n.Preferences.emptyCLICommandError",
                                   "%@ が選択されていますが、コマンド名が空です。",
                                   {std::string(check.name)});
        }
    }
    return std::nullopt;
}

namespace {

bool passes(const std::optional<std::string>& error, const PreferencesEnvironment& environment) {
    if (!error) {
        return true;
    }
    if (environment.presentError) {
        environment.presentError(*error);
    }
    return false;
}

} // namespace

bool PreferencesState::validateURLs() {
    return passes(urlError(), environment_);
}

bool PreferencesState::validatePaths() {
    return passes(pathError(), environment_);
}

bool PreferencesState::validateCLICommands() {
    return passes(cliCommandError(), environment_);
}

bool PreferencesState::commitDraftsToStorage() {
    if (!validateURLs() || !validatePaths() || !validateCLICommands()) {
        return false;
    }
    for (const ProviderSetting url :
         {S::openAIBaseURL, S::copilotBaseURL, S::claudeBaseURL, S::ollamaBaseURL}) {
        providerSettings_->setText(url, platform::trimWhitespace(providerSettings_->text(url)));
    }
    viewModel_.transcriptionProviderBaseURL.set(
        platform::trimWhitespace(viewModel_.transcriptionProviderBaseURL.get()));

    const PrevSettings prev = PrevSettings::read(*environment_.defaults);
    commitAudioDirectory();
    viewModel_.save();
    reconcileSharedProviderDrafts();
    if (const auto provider = providerNamed(viewModel_.summaryProvider.get())) {
        providerSettings_->save(*provider);
    }
    if (const auto provider = providerNamed(viewModel_.liveSummaryProvider.get())) {
        liveProviderSettings_->save(*provider);
    }
    rememberProviderBaselines();
    postSettingsNotifications(prev);
    return true;
}

void PreferencesState::reconcileSharedProviderDrafts() {
    for (std::size_t i = 0; i < kProviderSettingCount; ++i) {
        const auto setting = static_cast<ProviderSetting>(i);
        if (!isSharedSetting(setting)) {
            continue;
        }
        const bool summaryEdited = valueText(*providerSettings_, setting) != summaryBaseline_[i];
        const bool liveEdited = valueText(*liveProviderSettings_, setting) != liveBaseline_[i];
        if (summaryEdited && !liveEdited) {
            copySetting(*providerSettings_, *liveProviderSettings_, setting);
        } else {
            copySetting(*liveProviderSettings_, *providerSettings_, setting);
        }
    }
}

void PreferencesState::commitAudioDirectory() {
    const UserDefaults defaults(*environment_.defaults);
    const std::string stored = defaults.string(Key::audioDir).value_or("");
    const std::string draft = viewModel_.audioDir.get();
    if (stored == draft) {
        return;
    }
    if (draft.empty()) {
        defaults.removeObject(Key::audioDir);
        defaults.removeObject(Key::audioDirBookmark);
        return;
    }
    try {
        defaults.set(Key::audioDirBookmark, FolderBookmark::create(draft));
    } catch (const std::exception& error) {
        VelnoteLogger::app().error("failed to create security-scoped bookmark for audioDir: {}",
                                   error.what());
    }
}

void PreferencesState::postSettingsNotifications(const PrevSettings& prev) {
    const auto post = [this](const char* name) {
        if (environment_.postNotification) {
            environment_.postNotification(name);
        }
    };
    const AppSettingsViewModel& v = viewModel_;
    if (v.launchAtLogin.get() != prev.launchAtLogin) {
        UserDefaults(*environment_.defaults).set(Key::launchAtLogin, v.launchAtLogin.get());
        if (environment_.applyLaunchAtLogin) {
            environment_.applyLaunchAtLogin(v.launchAtLogin.get());
        }
    }
    if (v.nightlyBatchEnabled.get() != prev.nightlyBatch ||
        v.nightlyBatchHour.get() != prev.nightlyBatchHour) {
        post(kNightlyBatchSettingsChanged);
    }
    if (v.sessionRetentionDays.get() != prev.sessionRetentionDays) {
        post(kSessionRetentionSettingsChanged);
    }
    if (v.enableAutoMicDetection.get() != prev.enableAutoMicDetection) {
        post(kMicDetectionSettingChanged);
    }
    if (v.foregroundActivityTrackingEnabled.get() != prev.foregroundActivityTrackingEnabled &&
        environment_.updateForegroundActivityTracking) {
        environment_.updateForegroundActivityTracking(v.foregroundActivityTrackingEnabled.get());
    }
}

void PreferencesState::chooseDraftDirectory() {
    if (!environment_.chooseDirectory) {
        return;
    }
    if (const auto folder = environment_.chooseDirectory()) {
        viewModel_.audioDir.set(folder->string());
    }
}

std::string PreferencesState::defaultAudioDirLabel() {
    // No cloud container here: the default is the local saved-sessions folder.
    try {
        const std::string folder = SessionDirectoryResolver::resolveFallbackDir().url.string();
        return L10n::localized("L10n.Preferences.defaultSessionPath", "Default: %@", {folder});
    } catch (const platform::NoHomeFolderError&) {
        return L10n::isJapanese() ? "既定: Application Support/Velnote/Sessions"
                                  : "Default: Application Support/Velnote/Sessions";
    }
}

std::string PreferencesState::summaryPresetLabel(const std::string& id) const {
    for (const PromptOption& option : summaryPromptPresets_) {
        if (option.id == id) {
            return option.label;
        }
    }
    return L10n::localized("L10n.Prompts.minutesWriterLabel", "Meeting Minutes Writer");
}

void PreferencesState::refreshPermissionStates() {
    if (!environment_.permissions) {
        return;
    }
    const PermissionFlags immediate = environment_.permissions->readImmediate();
    permissions_.accessibility = immediate.accessibility;
    permissions_.screenRecording = immediate.screenRecording;
    permissions_.speechRecognition = immediate.speechRecognition;
    changed();
    environment_.permissions->readSlow(
        [this, alive = std::weak_ptr(alive_)](bool microphone, bool notifications) {
            if (alive.expired()) {
                return;
            }
            permissions_.microphone = microphone;
            permissions_.notifications = notifications;
            changed();
        });
}

void PreferencesState::refreshPermissionStatesDeferred(platform::TimerScheduler& timers,
                                                       platform::Executor& main,
                                                       std::chrono::milliseconds delay) {
    // Each timer lets go of its handle once it has fired; the rest go with this state.
    const std::uint64_t id = nextDeferredRefresh_++;
    deferredRefreshes_.emplace(id, timers.once(delay, main, [this, id, alive = std::weak_ptr(alive_)] {
        if (!alive.expired()) {
            deferredRefreshes_.erase(id);
            refreshPermissionStates();
        }
    }));
}

void PreferencesState::changed() const {
    if (onChange_) {
        onChange_();
    }
}

} // namespace velnote
