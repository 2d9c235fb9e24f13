#include "providers/core/ProviderEnvironment.h"

namespace velnote {

ProviderEnvironment ProviderEnvironment::standard() {
    return ProviderEnvironment{.defaults = UserDefaults(),
                               .keychain = KeychainHelper(),
                               .http = &platform::HttpClient::shared(),
                               .endpoints = RemoteEndpoints{},
                               .cliTimeLimit = std::chrono::seconds(600),
                               .cliKillDelay = std::chrono::milliseconds(200),
                               .sessionReplyLimit = std::chrono::seconds(120),
                               .cliOutputGrace = std::chrono::seconds(2)};
}

} // namespace velnote
