#pragma once

#include "platform/settings/SettingsStore.h"
#include "session/keychain/KeychainHelper.h"
#include "session/settings/ProviderSettingsBacking.h"

#include <array>

namespace velnote {

// The provider settings of the preferences window: values in the settings
// store, API keys in the keyring, both read once at construction and written
// by commit(). The live-summary variant keeps the model path, the OpenRouter
// model and switch, and the model of the command-line tools under keys of its
// own ("liveSummaryModelPath", "liveSummaryOpenRouterModel",
// "liveSummaryOpenRouterFreeOnly", "liveSummaryProviderModel").
class UserDefaultsBacking final : public ProviderSettingsBacking {
  public:
    // Loads every value now: strings as stored ("" when absent, except
    // localSummaryModel "qwen2.5-7b-instruct-mlx-4bit"), switches with the
    // typed bool read, API keys from `keychain`. `defaults` must outlive the
    // backing.
    UserDefaultsBacking(platform::SettingsStore& defaults, bool isLiveSummary,
                        KeychainHelper keychain = KeychainHelper());

    bool isSessionOverride() const override { return false; }
    bool isLiveSummary() const { return isLiveSummary_; }

    const ProviderSettingsValues& values() const override { return values_; }
    ProviderSettingsValues& values() override { return values_; }

    std::string apiKey(ProviderAPIKey key) const override;
    // A key that could not be read at construction keeps its stored value
    // until it is set to something other than "".
    void setAPIKey(ProviderAPIKey key, std::string value) override;

    // Writes every value, empty strings included, and saves every API key
    // that was read or set, empty ones included. A key the keyring could not
    // give at construction (locked, no keyring) is left untouched, so a commit
    // never wipes a key it merely failed to read. A failed save is logged and
    // the commit goes on. In the live-summary variant only the active
    // command-line tool's model is written to "liveSummaryProviderModel".
    void commit(SummaryProvider activeProvider) override;

  private:
    struct StoredKey {
        std::string value;
        bool unread = false; // the keyring could not give it; never written back unless set
    };

    void load();
    void saveKey(ProviderAPIKey key);
    StoredKey& slot(ProviderAPIKey key);
    const StoredKey& slot(ProviderAPIKey key) const;

    platform::SettingsStore* defaults_;
    bool isLiveSummary_;
    KeychainHelper keychain_;
    ProviderSettingsValues values_;
    std::array<StoredKey, 5> keys_; // in ProviderAPIKey order
};

} // namespace velnote
