#include "providers/chat/RemoteAIHTTPClient.h"

#include "platform/logging/Logger.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/support/ProviderTestEnvironment.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using platform::Json;
using testing::CannedReply;
using testing::RecordedRequest;
using Kind = RemoteAISummarizationError::Kind;

std::string openAIReply(const std::string& content) {
    return Json{
        {"choices", Json::array({Json{{"message", Json{{"role", "assistant"}, {"content", content}}}}})}}
        .dump();
}

class RemoteAIHTTPClientTest : public ::testing::Test {
  protected:
    RemoteAIHTTPClientTest() { server.reply(CannedReply::ok(openAIReply(" the summary \n"))); }

    RemoteAIHTTPClient client() { return RemoteAIHTTPClient(env.environment(endpoints)); }

    OpenAIChatConfig config(SummaryProvider provider, std::optional<std::string> model = std::nullopt,
                            std::optional<std::string> baseURL = std::nullopt) {
        return *openAICompatibleChatConfig(provider, endpoints, std::move(model), std::move(baseURL), "sys",
                                           "user");
    }

    RecordedRequest onlyRequest() const {
        const auto seen = server.requests();
        EXPECT_EQ(seen.size(), 1u);
        return seen.empty() ? RecordedRequest{} : seen.front();
    }

    // The error a call throws; the test fails when it throws none or another kind.
    template <class F> RemoteAISummarizationError errorOf(F&& call) {
        try {
            call();
        } catch (const RemoteAISummarizationError& e) {
            return e;
        }
        ADD_FAILURE() << "no RemoteAISummarizationError";
        return RemoteAISummarizationError::emptyResponse();
    }

    testing::LoopbackServer server;
    testing::ProviderTestEnvironment env;
    RemoteEndpoints endpoints = testing::ProviderTestEnvironment::endpointsOn(server);
};

struct ProviderRow {
    SummaryProvider provider;
    std::string host;
    std::string path;
    std::string authorization;
    std::string model;
    bool schema;
};

TEST_F(RemoteAIHTTPClientTest, EachOpenAICompatibleProviderGoesToItsEndpointWithItsKeyAndModel) {
    env.setKey("openAIAPIKey", "  sk-openai \n");
    env.setKey("openRouterAPIKey", "sk-router");
    env.setKey("copilotAPIKey", "sk-copilot");
    env.setSetting("copilotModel", " gpt-4.1 ");
    const ProviderRow rows[] = {
        {.provider = SummaryProvider::openAI,
         .host = "api.openai.test",
         .path = "/v1/chat/completions",
         .authorization = "Bearer sk-openai",
         .model = "gpt-4o-mini",
         .schema = true},
        {.provider = SummaryProvider::openRouter,
         .host = "openrouter.test",
         .path = "/api/v1/chat/completions",
         .authorization = "Bearer sk-router",
         .model = "nvidia/nemotron-3-nano-omni-30b-a3b-reasoning:free",
         .schema = false},
        {.provider = SummaryProvider::githubCopilotAPI,
         .host = "api.githubcopilot.test",
         .path = "/chat/completions",
         .authorization = "Bearer sk-copilot",
         .model = "gpt-4.1",
         .schema = false},
        {.provider = SummaryProvider::ollama,
         .host = "127.0.0.1",
         .path = "/v1/chat/completions",
         .authorization = "",
         .model = "llama3.2",
         .schema = false},
    };
    for (const auto& row : rows) {
        // A base URL from the caller only counts for the local server.
        const auto call = config(row.provider, std::nullopt, server.url("elsewhere.test"));
        EXPECT_EQ(client().openAICompatibleChat(call), "the summary");
    }
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), std::size(rows));
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const ProviderRow& row = rows[i];
        const RecordedRequest& request = seen[i];
        const std::string host = row.provider == SummaryProvider::ollama ? "elsewhere.test" : row.host;
        EXPECT_EQ(request.header("Host"), host + ":" + std::to_string(server.port()))
            << rawValue(row.provider);
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, row.path);
        EXPECT_EQ(request.header("Authorization"), row.authorization) << rawValue(row.provider);
        EXPECT_EQ(request.header("Content-Type"), "application/json");
        EXPECT_EQ(request.header("Copilot-Integration-Id"),
                  row.provider == SummaryProvider::githubCopilotAPI ? "Velnote" : "");
        const Json body = Json::parse(request.body);
        EXPECT_EQ(body["model"], row.model);
        EXPECT_EQ(body.contains("response_format"), row.schema);
        EXPECT_EQ(body["messages"][0]["content"], "sys");
    }
}

TEST_F(RemoteAIHTTPClientTest, TheLocalServerNeverGetsAStoredKeyWhereverItsBaseUrlPoints) {
    env.setKey("openAIAPIKey", "sk-openai");
    env.setKey("openRouterAPIKey", "sk-router");
    for (const std::string& base : {server.url("ollama.remote.test"),
                                    server.url("openrouter-proxy.test") + "/", server.url("localhost")}) {
        EXPECT_EQ(client().openAICompatibleChat(config(SummaryProvider::ollama, "llama3", base)),
                  "the summary");
    }
    env.setSetting("ollamaBaseURL", server.url("gpu-box.test"));
    client().openAICompatibleChat(config(SummaryProvider::ollama));
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 4u);
    for (const auto& request : seen)
        EXPECT_FALSE(request.hasHeader("Authorization")) << request.header("Host");
    EXPECT_EQ(seen[3].header("Host"), "gpu-box.test:" + std::to_string(server.port()));
}

TEST_F(RemoteAIHTTPClientTest, TheOllamaBaseComesFromTheCallerThenTheSettingThenTheDefault) {
    env.setSetting("ollamaBaseURL", "  ");
    env.setSetting("ollamaModel", "qwen3");
    const auto client = this->client();
    EXPECT_EQ(client.resolvedOpenAIChatParams(config(SummaryProvider::ollama)).baseURL, endpoints.ollama);
    env.setSetting("ollamaBaseURL", " http://box:1 ");
    const auto fromSetting = client.resolvedOpenAIChatParams(config(SummaryProvider::ollama));
    EXPECT_EQ(fromSetting.baseURL, "http://box:1");
    EXPECT_EQ(fromSetting.model, "qwen3");
    EXPECT_EQ(fromSetting.apiKey, "");
    const auto fromCaller =
        client.resolvedOpenAIChatParams(config(SummaryProvider::ollama, "", " http://x:2 "));
    EXPECT_EQ(fromCaller.baseURL, " http://x:2 ");
    EXPECT_EQ(fromCaller.model, ""); // the caller's model counts even when empty
}

TEST_F(RemoteAIHTTPClientTest, MissingOrBlankKeysFailBeforeAnyRequest) {
    auto error = errorOf([&] { client().openAICompatibleChat(config(SummaryProvider::openAI)); });
    EXPECT_EQ(error.kind(), Kind::missingSetting);
    EXPECT_EQ(error.detail(), "openAIAPIKey");
    env.setKey("openRouterAPIKey", " \t\u3000");
    error = errorOf([&] { client().openAICompatibleChat(config(SummaryProvider::openRouter)); });
    EXPECT_EQ(error.detail(), "openRouterAPIKey");
    env.setKey("claudeAPIKey", "  ");
    error = errorOf([&] {
        client().claudeChat({.providerModel = std::nullopt,
                             .providerBaseURL = std::nullopt,
                             .systemPrompt = "s",
                             .userPrompt = "u"});
    });
    EXPECT_EQ(error.detail(), "claudeAPIKey");
    error = errorOf([&] {
        client().geminiChat({.providerModel = std::nullopt,
                             .providerBaseURL = std::nullopt,
                             .systemPrompt = "s",
                             .userPrompt = "u"});
    });
    EXPECT_EQ(error.detail(), "geminiAPIKey");
    EXPECT_EQ(error.what(), std::string("要約設定が不足しています: geminiAPIKey"));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(RemoteAIHTTPClientTest, BaseUrlsLoseOneTrailingSlashAndBadOnesNeverLeave) {
    ChatTarget target{.baseURL = " " + server.url() + "/ \n", .apiKey = "", .model = "m"};
    const auto call = config(SummaryProvider::ollama);
    client().sendOpenAICompatibleChat(target, call);
    target.baseURL = server.url() + "//";
    client().sendOpenAICompatibleChat(target, call);
    target.baseURL = server.url() + "/v1";
    client().sendOpenAICompatibleChat(target, call);
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].target, "/v1/chat/completions");
    EXPECT_EQ(seen[1].target, "//v1/chat/completions");
    EXPECT_EQ(seen[2].target, "/v1/v1/chat/completions");

    for (const std::string& bad :
         {std::string(" http://host:port "), std::string("no scheme"), std::string("")}) {
        target.baseURL = bad;
        const auto error = errorOf([&] { client().sendOpenAICompatibleChat(target, call); });
        EXPECT_EQ(error.kind(), Kind::invalidEndpoint);
        EXPECT_EQ(error.detail(), bad);
    }
    EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(RemoteAIHTTPClientTest, AnthropicCallsSendTheirHeadersAndJoinTextBlocks) {
    env.setKey("claudeAPIKey", "sk-ant");
    server.reply(CannedReply::ok(R"({"content":[{"type":"thinking","thinking":"x"},{"type":"text","text":"A"},
                                                {"type":"text"},{"type":"text","text":"B"}]})"));
    const auto answer = client().claudeChat({.providerModel = std::nullopt,
                                             .providerBaseURL = std::nullopt,
                                             .systemPrompt = "",
                                             .userPrompt = "u"});
    EXPECT_EQ(answer, "A\nB");
    const auto request = onlyRequest();
    EXPECT_EQ(request.path, "/v1/messages");
    EXPECT_EQ(request.header("Host"), "api.anthropic.test:" + std::to_string(server.port()));
    EXPECT_EQ(request.header("x-api-key"), "sk-ant");
    EXPECT_EQ(request.header("anthropic-version"), "2023-06-01");
    const Json body = Json::parse(request.body);
    EXPECT_EQ(body["model"], "claude-3-5-sonnet-latest");
    EXPECT_EQ(body["system"], "");
}

TEST_F(RemoteAIHTTPClientTest, GeminiCallsPutTheModelInThePathAndSendABlankSystemText) {
    env.setKey("geminiAPIKey", "g-key");
    env.setSetting("geminiModel", "gemini-2.0-flash");
    server.reply(CannedReply::ok(R"({"candidates":[{"content":{"parts":[{"text":"A"},{"text":"B\n"}]}}]})"));
    const auto answer = client().geminiChat({.providerModel = std::nullopt,
                                             .providerBaseURL = std::nullopt,
                                             .systemPrompt = "   ",
                                             .userPrompt = "u"});
    EXPECT_EQ(answer, "A\nB");
    const auto request = onlyRequest();
    EXPECT_EQ(request.path, "/v1beta/models/gemini-2.0-flash:generateContent");
    EXPECT_EQ(request.header("x-goog-api-key"), "g-key");
    EXPECT_EQ(Json::parse(request.body)["systemInstruction"]["parts"][0]["text"], "   ");
}

TEST_F(RemoteAIHTTPClientTest, FailedAndEmptyRepliesBecomeTheirErrors) {
    platform::LogCapture logs;
    const ChatTarget target{.baseURL = server.url(), .apiKey = "", .model = "m"};
    const auto call = config(SummaryProvider::ollama);
    server.reply(CannedReply::with(429, "slow down"));
    auto error = errorOf([&] { client().sendOpenAICompatibleChat(target, call); });
    EXPECT_EQ(error.kind(), Kind::httpError);
    EXPECT_EQ(error.detail(), "status=429 body=slow down");
    EXPECT_TRUE(logs.contains("openai-compat request endpoint=127.0.0.1 model=m prompt_bytes=7"));
    EXPECT_TRUE(logs.contains("openai-compat response status=429 body=slow down"));

    server.reply(CannedReply::with(500, "\xff\xfe broken"));
    EXPECT_EQ(errorOf([&] { client().sendOpenAICompatibleChat(target, call); }).detail(), "status=500 body=");

    for (const std::string& empty : {openAIReply(" \n\u3000"), std::string(R"({"choices":[]})"),
                                     std::string(R"({"choices":[{"message":{"content":null}}]})")}) {
        server.reply(CannedReply::ok(empty));
        EXPECT_EQ(errorOf([&] { client().sendOpenAICompatibleChat(target, call); }).kind(),
                  Kind::emptyResponse);
    }
    server.reply(CannedReply::ok(R"({"content":[{"type":"text","text":"  "}]})"));
    EXPECT_EQ(errorOf([&] { client().sendClaudeChat(target, "s", "u"); }).kind(), Kind::emptyResponse);

    server.reply(CannedReply::ok(""));
    EXPECT_THROW(client().sendOpenAICompatibleChat(target, call), platform::JsonDecodeError);
}

TEST_F(RemoteAIHTTPClientTest, ModelsComeFromTheCallerThenTheSettingThenTheDefault) {
    env.setKey("openAIAPIKey", "k");
    const auto client = this->client();
    EXPECT_EQ(client.resolvedOpenAIChatParams(config(SummaryProvider::openAI)).model, "gpt-4o-mini");
    env.setSetting("openAIModel", " gpt-4.1 ");
    EXPECT_EQ(client.resolvedOpenAIChatParams(config(SummaryProvider::openAI)).model, "gpt-4.1");
    EXPECT_EQ(client.resolvedOpenAIChatParams(config(SummaryProvider::openAI, "o3 mini")).model, "o3 mini");
    // OpenAI ignores every base URL but its own.
    env.setSetting("openAIBaseURL", "http://other.test");
    EXPECT_EQ(client.resolvedOpenAIChatParams(config(SummaryProvider::openAI, std::nullopt, "http://x.test"))
                  .baseURL,
              endpoints.openAI);
}

} // namespace
} // namespace velnote
