#pragma once

#include "providers/core/ProviderEnvironment.h"
#include "session/config/SummaryProvider.h"

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velnote {

// One OpenAI-compatible call (OpenAI, OpenRouter, the Copilot API, Ollama).
struct OpenAIChatConfig {
    std::optional<std::string> providerModel;   // the caller's model; none: the setting, then defaultModel
    std::optional<std::string> providerBaseURL; // used only for a local server
    std::string path;                           // appended to the base URL, with its leading "/"
    std::string systemPrompt;
    std::string userPrompt;
    std::vector<std::pair<std::string, std::string>> extraHeaders; // after the standard ones, replacing
    std::string defaultModel;
    // The provider's default base URL; it also tells which provider this is (see resolvedOpenAIChatParams).
    std::string defaultBaseURL;
    bool useJSONSchema = false; // ask for the summary JSON (OpenAI only)
};

// One Anthropic messages or Gemini generateContent call.
struct ClaudeChatConfig {
    std::optional<std::string> providerModel;
    std::optional<std::string> providerBaseURL;
    std::string systemPrompt;
    std::string userPrompt;
};
struct GeminiChatConfig {
    std::optional<std::string> providerModel;
    std::optional<std::string> providerBaseURL;
    std::string systemPrompt;
    std::string userPrompt;
};

// Where one call goes and with what.
struct ChatTarget {
    std::string baseURL;
    std::string apiKey; // "" when the call needs none
    std::string model;
};

// The OpenAI-compatible config of `provider` ("openai", "openrouter", "copilot_api" or "ollama")
// with its path, headers, default model and base URL from `endpoints`; std::nullopt for any other.
std::optional<OpenAIChatConfig> openAICompatibleChatConfig(SummaryProvider provider,
                                                           const RemoteEndpoints& endpoints,
                                                           std::optional<std::string> providerModel,
                                                           std::optional<std::string> providerBaseURL,
                                                           std::string systemPrompt, std::string userPrompt);

// One call to a remote chat API and the text of its reply. Knows nothing of sessions or prompts:
// it picks the base URL, key and model from what the caller passes, the global settings and the
// defaults, sends one request and turns failures into RemoteAISummarizationError.
//
// Stateless apart from the environment; any number of threads may call at once. Each call blocks
// its thread (a request allows 60 s without data) and ends early with CancellationError when
// `stop` is requested. Transport failures arrive as platform::HttpError and unreadable 2xx bodies
// as platform::JsonDecodeError, both unchanged.
class RemoteAIHTTPClient {
  public:
    explicit RemoteAIHTTPClient(ProviderEnvironment environment);

    // The setting (the keyring for the API key accounts), trimmed; missingSetting(name) when it
    // is absent or blank.
    std::string requiredSetting(std::string_view name) const;

    // Base URL, key and model of an OpenAI-compatible call. The provider is told by the config's
    // default base URL: one holding "openrouter" is OpenRouter, "githubcopilot" the Copilot API,
    // "localhost" or "127.0.0.1" the local (Ollama) server, anything else OpenAI. Only the local
    // server takes a base URL from the caller or the "ollamaBaseURL" setting; the others go to
    // their fixed endpoint. The key is the provider's own (the local server gets none, wherever
    // its base URL points). Throws missingSetting when that key is missing.
    ChatTarget resolvedOpenAIChatParams(const OpenAIChatConfig& config) const;

    // Both steps of an OpenAI-compatible call.
    std::string openAICompatibleChat(const OpenAIChatConfig& config, std::stop_token stop = {}) const;
    // Key, model and base URL from the config, the settings and the defaults, then the call.
    std::string claudeChat(const ClaudeChatConfig& config, std::stop_token stop = {}) const;
    std::string geminiChat(const GeminiChatConfig& config, std::stop_token stop = {}) const;

    // The calls themselves; each returns the reply text trimmed, never empty.
    std::string sendOpenAICompatibleChat(const ChatTarget& target, const OpenAIChatConfig& config,
                                         std::stop_token stop = {}) const;
    std::string sendClaudeChat(const ChatTarget& target, std::string_view systemPrompt,
                               std::string_view userPrompt, std::stop_token stop = {}) const;
    std::string sendGeminiChat(const ChatTarget& target, std::string_view systemPrompt,
                               std::string_view userPrompt, std::stop_token stop = {}) const;

  private:
    std::optional<std::string> optionalSetting(UserDefaultsKey key) const;

    ProviderEnvironment environment_;
};

} // namespace velnote
