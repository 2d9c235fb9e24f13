#pragma once

#include "context/screen/DisplayDirectory.h"
#include "platform/settings/SettingsStore.h"
#include "session/config/PromptCatalog.h"
#include "session/config/SessionConfig.h"
#include "session/config/SummaryProvider.h"
#include "session/keychain/KeychainHelper.h"
#include "ui/settings/Observed.h"
#include "ui/settings/ProviderSettingsViewModel.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velnote {

// What the running live summary is told when its provider settings change.
struct LiveSummaryProviderUpdate {
    SummaryProvider provider = SummaryProvider::llamaCppLocal;
    std::string prompt;
    std::optional<std::string> providerModel;
    std::optional<std::string> providerBaseURL;
    bool operator==(const LiveSummaryProviderUpdate&) const = default;
};

// The provider-specific values taken from the global settings when a provider is chosen.
struct ProviderDetails {
    std::optional<std::string> model;
    std::optional<std::string> baseURL;
    std::optional<std::string> command;
    std::optional<std::string> args;
    bool operator==(const ProviderDetails&) const = default;
};

// What the session settings window reaches of the running recording; the application binds
// AppState, the recording controller, the live transcription and the live summary. Main thread.
struct SessionSettingsEnvironment {
    platform::SettingsStore* defaults = nullptr; // required
    KeychainHelper keychain = KeychainHelper();
    std::function<std::optional<SessionConfig>()> activeConfig{};
    // Applies an edit to the running session's configuration and its "session.json"; false (and
    // nothing changed) when no recording runs.
    std::function<bool(const std::function<void(SessionConfig&)>&)> mutateActiveSessionConfig{};
    std::function<void(std::optional<std::string> language)> updateInputLanguage{};
    std::function<void(const std::string& language)> updateLiveSummaryOutputLanguage{};
    std::function<void(const LiveSummaryProviderUpdate&)> updateLiveSummaryProvider{};
    std::function<void(bool enabled)> updateScreenshotEnabled{};
    std::function<void(bool enabled)> updateForegroundActivityTracking{};
    std::function<void(std::int64_t index)> changeScreenshotDisplay{};
    std::function<std::vector<AvailableDisplay>()> enumerateDisplays{};
    bool supportsCLIProviders = true;
};

// A value of the session form whose change, once the form is shown, runs its rule: the edit of
// the running configuration and, where one must hear of it at once, the running service.
template <class T> class RuledValue {
  public:
    RuledValue(ChangeObservers& observers, T initial) : observers_(&observers), value_(std::move(initial)) {}
    RuledValue(const RuledValue&) = delete;
    RuledValue& operator=(const RuledValue&) = delete;

    const T& get() const { return value_; }
    void set(const T& value) {
        if (value == value_) {
            return;
        }
        value_ = value;
        if (rule_ && *active_) {
            rule_(value_);
        }
        observers_->notify();
    }
    Binding<T> binding() {
        return Binding<T>([this] { return value_; }, [this](const T& value) { set(value); });
    }
    void setRule(const bool* active, std::function<void(const T&)> rule) {
        active_ = active;
        rule_ = std::move(rule);
    }

  private:
    ChangeObservers* observers_;
    T value_;
    const bool* active_ = nullptr;
    std::function<void(const T&)> rule_;
};

// The session settings window without its widgets: the form's values, how they are filled from
// the running recording's configuration, and the rule each change runs (every change is written
// at once; there are no drafts). The two provider settings models are built afresh over the
// running configuration at every load and provider change. The chunk concurrency is the one
// global setting here. Main thread only.
class SessionSettingsState {
  public:
    explicit SessionSettingsState(SessionSettingsEnvironment environment);

    // The rules run from the first call on (the form has been drawn).
    void activateRules() { rulesActive_ = true; }
    // Displays, then the form from the running configuration (nothing when there is none).
    // Loading runs no rule: it shows the configuration and changes nothing in it.
    void appear();
    void loadFromActiveConfig();

    // Replaced by every load and provider change; a holder keeps the one it shows alive.
    const std::shared_ptr<ProviderSettingsViewModel>& summaryProviderSettings() const {
        return summaryModel_;
    }
    const std::shared_ptr<ProviderSettingsViewModel>& liveSummaryProviderSettings() const {
        return liveModel_;
    }
    const std::vector<AvailableDisplay>& availableDisplays() const { return availableDisplays_; }
    bool supportsCLIProviders() const { return environment_.supportsCLIProviders; }

    std::int64_t remoteChunkConcurrency() const;
    void setRemoteChunkConcurrency(std::int64_t value);

    // What a provider choice takes from the global settings.
    ProviderDetails resolveProviderDetails(SummaryProvider provider) const;
    static std::function<void(SessionConfig&)> applyPrompt(const std::string& mode, const std::string& preset,
                                                           const std::string& custom);
    void applyIntermediatePrompt(const std::string& custom);
    // Resets the intermediate prompt to the built-in one and writes it.
    void resetIntermediatePrompt();
    void syncLiveSummaryActor();

    [[nodiscard]] platform::ObserverToken observe(std::function<void()> observer) {
        return observers_.observe(std::move(observer));
    }

  private:
    ChangeObservers observers_; // first: the values below refer to it

  public:
    RuledValue<std::string> whisperModel{observers_, "medium"};
    RuledValue<std::string> transcriptionProvider{observers_, "local"};
    RuledValue<std::string> transcriptionProviderModel{observers_, ""};
    RuledValue<std::string> inputLanguage{observers_, "auto"};
    RuledValue<std::string> outputLanguage;
    RuledValue<bool> diarizationEnabled{observers_, false};
    RuledValue<std::int64_t> numberOfSpeakers{observers_, 0};
    RuledValue<std::string> summaryProvider{observers_, "local"};
    RuledValue<std::string> summaryPromptMode{observers_, "preset"};
    RuledValue<std::string> summaryPromptPreset{observers_, "minutes"};
    RuledValue<std::string> summaryPromptCustom{observers_, ""};
    RuledValue<std::string> intermediatePromptCustom{observers_, ""};
    RuledValue<std::string> liveSummaryProvider{observers_, "local"};
    RuledValue<std::string> liveSummaryPrompt;
    RuledValue<bool> screenshotEnabled{observers_, true};
    RuledValue<bool> foregroundActivityTrackingEnabled{observers_, true};
    RuledValue<std::int64_t> screenshotDisplayIndex{observers_, 0};
    RuledValue<bool> screenshotEmbedInSummaryEnabled{observers_, true};
    RuledValue<std::int64_t> screenshotEmbedMaxWidth{observers_, 1280};
    RuledValue<bool> nightlyBatch{observers_, false};

  private:
    void installRules();
    void edit(const std::function<void(SessionConfig&)>& change) const;
    void changeSummaryProvider(const std::string& value);
    void changeLiveSummaryProvider(const std::string& value);
    std::shared_ptr<ProviderSettingsViewModel> buildProviderModel(const SessionConfig& config,
                                                                  bool isLiveSummary);

    SessionSettingsEnvironment environment_;
    bool rulesActive_ = false;
    std::vector<AvailableDisplay> availableDisplays_;
    std::shared_ptr<ProviderSettingsViewModel> summaryModel_;
    std::shared_ptr<ProviderSettingsViewModel> liveModel_;
};

} // namespace velnote
