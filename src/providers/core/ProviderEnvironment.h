#pragma once

#include "platform/http/HttpClient.h"
#include "session/config/ProviderEndpoints.h"
#include "session/keychain/KeychainHelper.h"
#include "session/settings/UserDefaults.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace velnote {

// The default base URLs of the remote providers (scheme and host, plus a path prefix where the
// API has one). The chat client and the model lists tell OpenRouter, the Copilot API and a local
// server apart by "openrouter", "githubcopilot" and "localhost"/"127.0.0.1" in these texts, so
// replacements (tests use loopback servers under such names) must keep them.
struct RemoteEndpoints {
    std::string openAI{ProviderEndpoints::openAI};
    std::string openRouter{ProviderEndpoints::openRouter};  // with the API's "/api" prefix
    std::string openRouterOrigin = "https://openrouter.ai"; // where the model lists live
    std::string githubCopilot{ProviderEndpoints::githubCopilot};
    std::string anthropic{ProviderEndpoints::anthropic};
    std::string gemini{ProviderEndpoints::gemini};
    std::string ollama{ProviderEndpoints::ollama};
};

// What the provider clients read and talk through. The application uses standard(); tests build
// one on a temporary settings file, an in-memory keyring, a client that maps test host names to
// 127.0.0.1, and short limits. Values are cheap to copy; every member is thread-safe.
struct ProviderEnvironment {
    UserDefaults defaults;                // the global settings, read at the moment of use
    KeychainHelper keychain;              // the API keys
    platform::HttpClient* http = nullptr; // never null once built
    RemoteEndpoints endpoints;
    // How long a command-line tool may run before it is killed.
    std::chrono::milliseconds cliTimeLimit{std::chrono::seconds(600)};
    // Between SIGTERM and SIGKILL when a tool is stopped.
    std::chrono::milliseconds cliKillDelay{200};
    // How long a persistent tool session waits for the answer to one request.
    std::chrono::milliseconds sessionReplyLimit{std::chrono::seconds(120)};
    // After a tool exits, how long output that something it started holds open is still read.
    std::chrono::milliseconds cliOutputGrace{std::chrono::seconds(2)};
    // The most bytes of one answer a tool may write; past it the tool is killed and the run fails.
    std::size_t cliOutputLimit = std::size_t{64} << 20;

    // The standard settings, the user's keyring and the shared HTTP client.
    static ProviderEnvironment standard();
};

} // namespace velnote
