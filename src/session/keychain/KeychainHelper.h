#pragma once

#include "platform/keychain/SecretStore.h"
#include "session/keychain/KeychainError.h"

#include <memory>
#include <string>
#include <string_view>

namespace velnote {

// Provider API keys in the user's keyring, one item per account under the
// service kBundleIdentifier. Holds no state besides the store it talks to; any
// thread may call it. Log lines name the account and status, never the key.
class KeychainHelper {
  public:
    // The accounts of the provider keys.
    static constexpr const char* openAIAPIKey = "openAIAPIKey"; // also the remote transcription service
    static constexpr const char* openRouterAPIKey = "openRouterAPIKey";
    static constexpr const char* copilotAPIKey = "copilotAPIKey";
    static constexpr const char* claudeAPIKey = "claudeAPIKey";
    static constexpr const char* geminiAPIKey = "geminiAPIKey";

    // The user's keyring (platform::SecretServiceStore::shared()).
    KeychainHelper();
    // Any store, e.g. a fake in tests.
    explicit KeychainHelper(std::shared_ptr<platform::SecretStore> store);

    // The stored key; "" when there is no item and also when the item cannot
    // be read (logged). A caller that writes keys back must use read() instead,
    // or it would overwrite a key it merely failed to read.
    std::string load(std::string_view account) const;
    // Tells a missing item (notFound) from one that could not be read
    // (unreadable, logged); the value is set only when found.
    platform::SecretRead read(std::string_view account) const;
    // Adds the item, or replaces the value of the existing one. An empty value
    // is stored like any other, never turned into a deletion. Throws
    // KeychainError (addFailed or updateFailed); failures are logged.
    void save(std::string_view value, std::string_view account) const;
    // Removes the item; an absent item is no error. Failures are only logged.
    void remove(std::string_view account) const;

  private:
    platform::SecretKey key(std::string_view account) const;

    std::shared_ptr<platform::SecretStore> store_;
};

} // namespace velnote
