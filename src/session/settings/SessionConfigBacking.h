#pragma once

#include "platform/settings/SettingsStore.h"
#include "session/config/SessionConfig.h"
#include "session/keychain/KeychainHelper.h"
#include "session/settings/ProviderSettingsBacking.h"

#include <functional>
#include <memory>
#include <optional>

namespace velnote {

// The provider settings of the per-session settings window: the values start
// from the recording's configuration (the global settings fill in the other
// providers) and commit() hands an edit of the configuration to the injected
// write operation. API keys are not the session's: they are read from the
// keyring on every call and cannot be set here.
class SessionConfigBacking final : public ProviderSettingsBacking {
  public:
    // Changes a configuration in place.
    using Edit = std::function<void(SessionConfig&)>;
    // Applies an edit where the configuration lives; the application passes
    // one that goes through AppState::mutateActiveSessionConfig. It may drop
    // the edit (no recording running).
    using WriteConfig = std::function<void(const Edit&)>;

    // Fills the values from `config` and, for what the configuration does not
    // hold, from `defaults` (strings as stored, "" when absent, except
    // geminiModel "gemini-1.5-flash"). `defaults` must outlive the backing
    // and its edits; the OpenRouter edit writes its free-only switch there.
    SessionConfigBacking(const SessionConfig& config, bool isLiveSummary, WriteConfig writeConfig,
                         platform::SettingsStore& defaults = platform::SettingsStore::standard(),
                         KeychainHelper keychain = KeychainHelper());
    SessionConfigBacking(const SessionConfigBacking&) = delete;
    SessionConfigBacking& operator=(const SessionConfigBacking&) = delete;

    bool isSessionOverride() const override { return true; }
    bool isLiveSummary() const { return state_->isLiveSummary; }

    const ProviderSettingsValues& values() const override { return state_->values; }
    ProviderSettingsValues& values() override { return state_->values; }

    // The keyring's current key ("" when none or unreadable).
    std::string apiKey(ProviderAPIKey key) const override;
    // Does nothing: keys are global settings.
    void setAPIKey(ProviderAPIKey key, std::string value) override;

    // Calls the write operation once with an edit that sets the active
    // provider's model and base URL (trimmed; blank gives none) and, in the
    // summary variant, the local model settings and the tool's command and
    // argument template (only when not blank). The edit reads the values when
    // it runs; once the backing is gone it changes nothing. It never changes
    // the providers themselves.
    void commit(SummaryProvider activeProvider) override;

  private:
    struct State {
        bool isLiveSummary = false;
        ProviderSettingsValues values;
        platform::SettingsStore* defaults = nullptr;
    };

    static void apply(const State& state, SummaryProvider activeProvider, SessionConfig& config);

    std::shared_ptr<State> state_; // shared only with pending edits, weakly
    WriteConfig writeConfig_;
    KeychainHelper keychain_;
};

} // namespace velnote
