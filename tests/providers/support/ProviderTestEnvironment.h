#pragma once

#include "platform/http/HttpClient.h"
#include "platform/settings/SettingsStore.h"
#include "providers/core/ProviderEnvironment.h"
#include "session/support/FakeSecretStore.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

#include <memory>
#include <string>

namespace velnote::testing {

// A provider environment on a temporary settings file and an in-memory keyring, whose HTTP client
// sends every host name to 127.0.0.1 (on the URL's own port), so "http://openrouter.test:<port>"
// reaches a LoopbackServer.
class ProviderTestEnvironment {
  public:
    ProviderTestEnvironment() : settings_(dir_ / "settings.json"), http_(loopbackOnly()) {}

    // Endpoints on `server` under names that keep the marks the clients look for.
    static RemoteEndpoints endpointsOn(const LoopbackServer& server) {
        RemoteEndpoints endpoints;
        endpoints.openAI = server.url("api.openai.test");
        endpoints.openRouter = server.url("openrouter.test") + "/api";
        endpoints.openRouterOrigin = server.url("openrouter.test");
        endpoints.githubCopilot = server.url("api.githubcopilot.test");
        endpoints.anthropic = server.url("api.anthropic.test");
        endpoints.gemini = server.url("gemini.test");
        endpoints.ollama = server.url(); // a bare 127.0.0.1: the local server
        return endpoints;
    }

    ProviderEnvironment environment(RemoteEndpoints endpoints = {}) {
        ProviderEnvironment environment{.defaults = UserDefaults(settings_),
                                        .keychain = KeychainHelper(secrets_),
                                        .http = &http_,
                                        .endpoints = std::move(endpoints),
                                        .cliTimeLimit = std::chrono::seconds(10),
                                        .cliKillDelay = std::chrono::milliseconds(200),
                                        .sessionReplyLimit = std::chrono::seconds(10),
                                        .cliOutputGrace = std::chrono::milliseconds(500)};
        return environment;
    }

    void setKey(const std::string& account, const std::string& value) {
        KeychainHelper(secrets_).save(value, account);
    }
    void setSetting(const std::string& name, platform::SettingsValue value) {
        settings_.set(name, std::move(value));
    }
    void removeSetting(const std::string& name) { settings_.remove(name); }
    std::optional<std::string> setting(const std::string& name) const { return settings_.string(name); }

    const std::filesystem::path& dir() const { return dir_.path(); }
    platform::SettingsStore& settings() { return settings_; }

  private:
    static platform::HttpClient::Options loopbackOnly() {
        platform::HttpClient::Options options;
        options.connectTo = {"::127.0.0.1:"};
        return options;
    }

    TempDir dir_;
    platform::SettingsStore settings_;
    std::shared_ptr<FakeSecretStore> secrets_ = std::make_shared<FakeSecretStore>();
    platform::HttpClient http_;
};

} // namespace velnote::testing
