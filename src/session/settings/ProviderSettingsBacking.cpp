#include "session/settings/ProviderSettingsBacking.h"

#include "session/keychain/KeychainHelper.h"

namespace velnote {

std::string_view keychainAccount(ProviderAPIKey key) {
    switch (key) {
    case ProviderAPIKey::openAI:
        return KeychainHelper::openAIAPIKey;
    case ProviderAPIKey::openRouter:
        return KeychainHelper::openRouterAPIKey;
    case ProviderAPIKey::copilot:
        return KeychainHelper::copilotAPIKey;
    case ProviderAPIKey::claude:
        return KeychainHelper::claudeAPIKey;
    case ProviderAPIKey::gemini:
        return KeychainHelper::geminiAPIKey;
    }
    return KeychainHelper::openAIAPIKey;
}

} // namespace velnote
