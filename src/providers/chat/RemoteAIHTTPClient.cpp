#include "providers/chat/RemoteAIHTTPClient.h"

#include "platform/http/HttpUrl.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Characters.h"
#include "platform/text/Split.h"
#include "platform/text/Whitespace.h"
#include "providers/chat/ChatWireFormats.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "session/VelnoteLogger.h"

namespace velnote {
namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

constexpr auto kRequestIdleTimeout = std::chrono::seconds(60);

// Which OpenAI-compatible provider a default base URL belongs to.
enum class OpenAIFlavour { openRouter, githubCopilot, localServer, openAI };

OpenAIFlavour flavourOf(std::string_view defaultBaseURL) {
    const std::string lower = platform::lowercased(defaultBaseURL);
    if (lower.find("openrouter") != std::string::npos)
        return OpenAIFlavour::openRouter;
    if (lower.find("githubcopilot") != std::string::npos)
        return OpenAIFlavour::githubCopilot;
    if (lower.find("localhost") != std::string::npos || lower.find("127.0.0.1") != std::string::npos)
        return OpenAIFlavour::localServer;
    return OpenAIFlavour::openAI;
}

// The five API keys live in the keyring, every other setting in the settings store.
bool isKeychainAccount(std::string_view name) {
    for (const auto provider : kAllSummaryProviders) {
        if (apiKeyAccount(provider) == name)
            return true;
    }
    return false;
}

struct Reply {
    long status = 0;
    std::string body;
};

// Steps common to the three families: join and check the URL, post the JSON body, and turn a
// status outside 2xx into httpError with the whole body.
Reply post(const ProviderEnvironment& environment, std::string_view family, const std::string& baseURL,
           std::string_view path, const Headers& headers, const platform::Json& body, std::string_view model,
           std::size_t promptBytes, std::stop_token stop) {
    std::string base = platform::trimWhitespace(baseURL);
    if (!base.empty() && base.back() == '/')
        base.pop_back();
    const auto url = platform::parseHttpUrl(base + std::string(path));
    if (!url)
        throw RemoteAISummarizationError::invalidEndpoint(baseURL);

    platform::HttpRequest request;
    request.method = "POST";
    request.url = url->text;
    request.idleTimeout = kRequestIdleTimeout;
    request.setHeader("Content-Type", "application/json");
    for (const auto& [name, value] : headers)
        request.setHeader(name, value);
    request.body = platform::toCompactJson(body);

    const auto& log = VelnoteLogger::summarize();
    log.info("{} request endpoint={} model={} prompt_bytes={}", family, url->host, model, promptBytes);
    platform::HttpResponse response = environment.http->send(request, stop);
    if (response.status < 200 || response.status > 299) {
        const std::string text = platform::isValidUtf8(response.body) ? response.body : std::string();
        log.error("{} response status={} body={}", family, response.status, text);
        throw RemoteAISummarizationError::httpError("status=" + std::to_string(response.status) +
                                                    " body=" + text);
    }
    return Reply{response.status, std::move(response.body)};
}

std::string checkedText(std::string_view family, const Reply& reply, const std::string& text) {
    std::string trimmed = platform::trimWhitespace(text);
    const auto& log = VelnoteLogger::summarize();
    if (trimmed.empty()) {
        log.error("{} response status={} empty content response_bytes={}", family, reply.status,
                  reply.body.size());
        throw RemoteAISummarizationError::emptyResponse();
    }
    log.info("{} response status={} response_bytes={}", family, reply.status, reply.body.size());
    return trimmed;
}

} // namespace

std::optional<OpenAIChatConfig> openAICompatibleChatConfig(SummaryProvider provider,
                                                           const RemoteEndpoints& endpoints,
                                                           std::optional<std::string> providerModel,
                                                           std::optional<std::string> providerBaseURL,
                                                           std::string systemPrompt, std::string userPrompt) {
    OpenAIChatConfig config;
    config.providerModel = std::move(providerModel);
    config.providerBaseURL = std::move(providerBaseURL);
    config.systemPrompt = std::move(systemPrompt);
    config.userPrompt = std::move(userPrompt);
    config.path = "/v1/chat/completions";
    switch (provider) {
    case SummaryProvider::openAI:
        config.defaultModel = "gpt-4o-mini";
        config.defaultBaseURL = endpoints.openAI;
        config.useJSONSchema = true;
        return config;
    case SummaryProvider::openRouter:
        config.defaultModel = "nvidia/nemotron-3-nano-omni-30b-a3b-reasoning:free";
        config.defaultBaseURL = endpoints.openRouter;
        return config;
    case SummaryProvider::githubCopilotAPI:
        config.path = "/chat/completions";
        config.extraHeaders = {{"Copilot-Integration-Id", "Velnote"}};
        config.defaultModel = "gpt-4o-mini";
        config.defaultBaseURL = endpoints.githubCopilot;
        return config;
    case SummaryProvider::ollama:
        config.defaultModel = "llama3.2";
        config.defaultBaseURL = endpoints.ollama;
        return config;
    default:
        return std::nullopt;
    }
}

RemoteAIHTTPClient::RemoteAIHTTPClient(ProviderEnvironment environment)
    : environment_(std::move(environment)) {}

std::string RemoteAIHTTPClient::requiredSetting(std::string_view name) const {
    std::optional<std::string> value;
    if (isKeychainAccount(name)) {
        value = environment_.keychain.load(name);
    } else {
        value = environment_.defaults.store().string(name);
    }
    std::string trimmed = value ? platform::trimWhitespace(*value) : std::string();
    if (trimmed.empty())
        throw RemoteAISummarizationError::missingSetting(std::string(name));
    return trimmed;
}

std::optional<std::string> RemoteAIHTTPClient::optionalSetting(UserDefaultsKey key) const {
    return environment_.defaults.trimmedString(key);
}

ChatTarget RemoteAIHTTPClient::resolvedOpenAIChatParams(const OpenAIChatConfig& config) const {
    const RemoteEndpoints& endpoints = environment_.endpoints;
    ChatTarget target;
    UserDefaultsKey modelKey = UserDefaultsKey::openAIModel;
    switch (flavourOf(config.defaultBaseURL)) {
    case OpenAIFlavour::openRouter:
        target.baseURL = config.defaultBaseURL;
        target.apiKey = requiredSetting(KeychainHelper::openRouterAPIKey);
        modelKey = UserDefaultsKey::openRouterModel;
        break;
    case OpenAIFlavour::githubCopilot:
        target.baseURL = endpoints.githubCopilot;
        target.apiKey = requiredSetting(KeychainHelper::copilotAPIKey);
        modelKey = UserDefaultsKey::copilotModel;
        break;
    case OpenAIFlavour::localServer:
        // The user may point the local server elsewhere; a stored key is never sent there.
        target.baseURL = config.providerBaseURL.value_or(
            optionalSetting(UserDefaultsKey::ollamaBaseURL).value_or(config.defaultBaseURL));
        modelKey = UserDefaultsKey::ollamaModel;
        break;
    case OpenAIFlavour::openAI:
        target.baseURL = endpoints.openAI;
        target.apiKey = requiredSetting(KeychainHelper::openAIAPIKey);
        break;
    }
    target.model = config.providerModel.value_or(optionalSetting(modelKey).value_or(config.defaultModel));
    return target;
}

std::string RemoteAIHTTPClient::openAICompatibleChat(const OpenAIChatConfig& config,
                                                     std::stop_token stop) const {
    return sendOpenAICompatibleChat(resolvedOpenAIChatParams(config), config, std::move(stop));
}

std::string RemoteAIHTTPClient::claudeChat(const ClaudeChatConfig& config, std::stop_token stop) const {
    ChatTarget target;
    target.apiKey = requiredSetting(KeychainHelper::claudeAPIKey);
    target.model = config.providerModel.value_or(
        optionalSetting(UserDefaultsKey::claudeModel).value_or("claude-3-5-sonnet-latest"));
    target.baseURL = config.providerBaseURL.value_or(environment_.endpoints.anthropic);
    return sendClaudeChat(target, config.systemPrompt, config.userPrompt, std::move(stop));
}

std::string RemoteAIHTTPClient::geminiChat(const GeminiChatConfig& config, std::stop_token stop) const {
    ChatTarget target;
    target.apiKey = requiredSetting(KeychainHelper::geminiAPIKey);
    target.model = config.providerModel.value_or(
        optionalSetting(UserDefaultsKey::geminiModel).value_or("gemini-1.5-flash"));
    target.baseURL = config.providerBaseURL.value_or(environment_.endpoints.gemini);
    return sendGeminiChat(target, config.systemPrompt, config.userPrompt, std::move(stop));
}

std::string RemoteAIHTTPClient::sendOpenAICompatibleChat(const ChatTarget& target,
                                                         const OpenAIChatConfig& config,
                                                         std::stop_token stop) const {
    Headers headers;
    if (!target.apiKey.empty())
        headers.emplace_back("Authorization", "Bearer " + target.apiKey);
    headers.insert(headers.end(), config.extraHeaders.begin(), config.extraHeaders.end());
    const auto body = chatwire::openAIChatRequest(target.model, config.systemPrompt, config.userPrompt,
                                                  config.useJSONSchema);
    const Reply reply =
        post(environment_, "openai-compat", target.baseURL, config.path, headers, body, target.model,
             config.systemPrompt.size() + config.userPrompt.size(), std::move(stop));
    std::string text = platform::trimWhitespace(chatwire::openAIChatResponseText(reply.body).value_or(""));
    if (text.empty()) {
        VelnoteLogger::summarize().error("openai-compat response status={} empty/null content body={}",
                                         reply.status, reply.body);
        throw RemoteAISummarizationError::emptyResponse();
    }
    VelnoteLogger::summarize().info("openai-compat response status={} response_bytes={}", reply.status,
                                    reply.body.size());
    return text;
}

std::string RemoteAIHTTPClient::sendClaudeChat(const ChatTarget& target, std::string_view systemPrompt,
                                               std::string_view userPrompt, std::stop_token stop) const {
    const Headers headers{{"x-api-key", target.apiKey}, {"anthropic-version", "2023-06-01"}};
    const Reply reply = post(environment_, "claude", target.baseURL, "/v1/messages", headers,
                             chatwire::claudeRequest(target.model, systemPrompt, userPrompt), target.model,
                             systemPrompt.size() + userPrompt.size(), std::move(stop));
    return checkedText("claude", reply, platform::joined(chatwire::claudeResponseTexts(reply.body), "\n"));
}

std::string RemoteAIHTTPClient::sendGeminiChat(const ChatTarget& target, std::string_view systemPrompt,
                                               std::string_view userPrompt, std::stop_token stop) const {
    const Headers headers{{"x-goog-api-key", target.apiKey}};
    const Reply reply =
        post(environment_, "gemini", target.baseURL, "/v1beta/models/" + target.model + ":generateContent",
             headers, chatwire::geminiChatRequest(systemPrompt, userPrompt), target.model,
             systemPrompt.size() + userPrompt.size(), std::move(stop));
    return checkedText("gemini", reply, platform::joined(chatwire::geminiResponseTexts(reply.body), "\n"));
}

} // namespace velnote
