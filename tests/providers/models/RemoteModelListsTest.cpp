#include "platform/flavor/BuildFlavor.h"
#include "platform/http/HttpError.h"
#include "platform/logging/Logger.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/models/RemoteModelFetchService.h"
#include "providers/support/FakeTools.h"
#include "providers/support/ProviderTestEnvironment.h"
#include "support/BadJson.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using platform::Json;
using testing::CannedReply;
using testing::RecordedRequest;
using FetchError = RemoteModelFetchService::FetchError;
using Ids = std::vector<std::string>;

const char* kIdList =
    R"({"object":"list","data":[{"id":"gpt-4o"},{"id":"o3","owned_by":"x"},{"id":"gpt-4o"}]})";

class RemoteModelListsTest : public ::testing::Test {
  protected:
    RemoteModelListsTest() : tools(env.dir()) {
        server.reply(CannedReply::ok(kIdList));
        env.setSetting("additionalPATH", tools.bin().string());
    }

    RemoteModelFetchService service() {
        return RemoteModelFetchService(
            env.environment(testing::ProviderTestEnvironment::endpointsOn(server)));
    }

    template <class F> FetchError::Kind failureOf(F&& call) {
        try {
            call();
        } catch (const FetchError& e) {
            return e.kind();
        }
        ADD_FAILURE() << "no FetchError";
        return FetchError::Kind::unsupportedProvider;
    }

    std::string hostOf(const RecordedRequest& request) const {
        const std::string host = request.header("Host");
        return host.substr(0, host.find(':'));
    }

    testing::LoopbackServer server;
    testing::ProviderTestEnvironment env;
    testing::FakeTools tools;
};

TEST_F(RemoteModelListsTest, ListsAreKeptUnderTheArgumentsAsPassed) {
    auto models = service();
    EXPECT_EQ(models.fetchModels(SummaryProvider::openAI, "k", ""), (Ids{"gpt-4o", "o3", "gpt-4o"}));
    EXPECT_EQ(models.fetchModels(SummaryProvider::openAI, "k", ""), (Ids{"gpt-4o", "o3", "gpt-4o"}));
    EXPECT_EQ(server.requestCount(), 1u);
    models.fetchModels(SummaryProvider::openAI, "k2", "");
    models.fetchModels(SummaryProvider::openAI, "k", " ");
    models.fetchModels(SummaryProvider::openAI, "k", server.url("api.openai.test") + "/");
    models.fetchModels(SummaryProvider::openAI, "k", server.url("api.openai.test"));
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 5u);
    for (const auto& request : seen) {
        EXPECT_EQ(request.target, "/v1/models");
        EXPECT_EQ(hostOf(request), "api.openai.test");
    }
    EXPECT_EQ(seen[1].header("Authorization"), "Bearer k2");
}

TEST_F(RemoteModelListsTest, EachProviderHasItsEndpointAndHeaders) {
    auto models = service();
    models.fetchModels(SummaryProvider::githubCopilotAPI, " k", server.url("proxy.test") + "/copilot//");
    models.fetchModels(SummaryProvider::claudeAPI, "ant", "");
    server.reply(CannedReply::ok(R"({"models":[{"name":"llama3.2:latest","size":1},{"name":"qwen3"}]})"));
    EXPECT_EQ(models.fetchModels(SummaryProvider::ollama, "", ""), (Ids{"llama3.2:latest", "qwen3"}));
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(hostOf(seen[0]), "proxy.test");
    EXPECT_EQ(seen[0].target, "/copilot//models");
    EXPECT_EQ(seen[0].header("Authorization"), "Bearer  k"); // the key as passed
    EXPECT_EQ(hostOf(seen[1]), "api.anthropic.test");
    EXPECT_EQ(seen[1].target, "/v1/models?limit=100");
    EXPECT_EQ(seen[1].header("x-api-key"), "ant");
    EXPECT_EQ(seen[1].header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(hostOf(seen[2]), "127.0.0.1");
    EXPECT_EQ(seen[2].target, "/api/tags");
    EXPECT_FALSE(seen[2].hasHeader("Authorization"));
}

TEST_F(RemoteModelListsTest, OpenRouterIdentifiersComeUnfilteredFromItsOwnOrigin) {
    server.reply(CannedReply::ok(R"({"data":[{"id":"paid/x","pricing":{"prompt":"0.1","completion":"0.2"}},
                                             {"id":"free/y","pricing":{"prompt":"0","completion":"0"}}]})"));
    EXPECT_EQ(service().fetchModels(SummaryProvider::openRouter, "k", "http://ignored.test"),
              (Ids{"paid/x", "free/y"}));
    const auto request = server.requests().at(0);
    EXPECT_EQ(hostOf(request), "openrouter.test");
    EXPECT_EQ(request.target, "/api/v1/models");
}

TEST_F(RemoteModelListsTest, RefusesWithoutAKeyOrAListAndSendsNothing) {
    auto models = service();
    for (const auto provider : {SummaryProvider::llamaCppLocal, SummaryProvider::appleLocalLLM,
                                SummaryProvider::claudeCLI, SummaryProvider::copilotCLI})
        EXPECT_EQ(failureOf([&] { models.fetchModels(provider, "k", ""); }),
                  FetchError::Kind::unsupportedProvider);
    for (const auto provider :
         {SummaryProvider::openAI, SummaryProvider::githubCopilotAPI, SummaryProvider::claudeAPI,
          SummaryProvider::geminiAPI, SummaryProvider::openRouter})
        EXPECT_EQ(failureOf([&] { models.fetchModels(provider, "", ""); }), FetchError::Kind::missingAPIKey);
    EXPECT_EQ(failureOf([&] { models.fetchOpenRouterModelInfos("", false); }),
              FetchError::Kind::missingAPIKey);
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(FetchError::missingAPIKey().what(), std::string("API key is required to fetch models"));
    EXPECT_EQ(FetchError::unsupportedProvider().what(),
              std::string("Model list not available for this provider"));
}

TEST_F(RemoteModelListsTest, FailedRepliesAreReportedAndNotKept) {
    auto models = service();
    server.reply(CannedReply::with(401, R"({"data":[]})"));
    try {
        models.fetchModels(SummaryProvider::openAI, "k", "");
        FAIL() << "no error";
    } catch (const FetchError& e) {
        EXPECT_EQ(e.status(), 401);
        EXPECT_EQ(e.what(), std::string("Server returned error: 401"));
    }
    server.reply(CannedReply::ok(R"({"data":[{"name":"no id"}]})"));
    EXPECT_THROW(models.fetchModels(SummaryProvider::openAI, "k", ""), platform::JsonDecodeError);
    server.reply(CannedReply::ok(kIdList));
    EXPECT_EQ(models.fetchModels(SummaryProvider::openAI, "k", "").size(), 3u);
    EXPECT_EQ(server.requestCount(), 3u);
    EXPECT_THROW(models.fetchModels(SummaryProvider::openAI, "k", "http://bad host"), platform::HttpError);
}

// A server that lies about its list answers with the decoder's own error, for every provider's
// reader, and nothing of it is kept: the next good reply is fetched and read.
TEST_F(RemoteModelListsTest, ListsThatLieAreRefusedWithTheDecodersError) {
    const Json valid = {{"data", {{{"id", "a"}}}}, {"models", {{{"name", "a"}}}}};
    std::vector<testing::BadJson> replies = testing::badJsonVariants(valid);
    for (const char* wrongType :
         {R"([])", R"({"data":{"id":"a"},"models":{"name":"a"}})", R"({"data":[1],"models":[1]})",
          R"({"data":[{"id":5}],"models":[{"name":[]}]})"})
        replies.push_back({wrongType, wrongType});
    const std::pair<SummaryProvider, const char*> readers[] = {
        {SummaryProvider::openAI, "k"}, {SummaryProvider::claudeAPI, "k"}, {SummaryProvider::ollama, ""}};
    for (const auto& [provider, key] : readers) {
        auto models = service();
        for (const auto& reply : replies) {
            SCOPED_TRACE(std::string(rawValue(provider)) + ": " + reply.name);
            server.reply(CannedReply::ok(reply.text));
            EXPECT_THROW(models.fetchModels(provider, key, ""), platform::JsonDecodeError);
        }
        server.reply(CannedReply::ok(valid.dump()));
        EXPECT_EQ(models.fetchModels(provider, key, "").size(), 1U);
    }
}

TEST_F(RemoteModelListsTest, GeminiKeepsContentModelsAndFallsBackToTwoKnownOnes) {
    auto models = service();
    server.reply(CannedReply::ok(R"({"models":[
        {"name":"models/gemini-x","supportedGenerationMethods":["countTokens","generateContent"]},
        {"name":"models/embedding-001","supportedGenerationMethods":["embedContent"]},
        {"name":"models/no-methods"}]})"));
    EXPECT_EQ(models.fetchModels(SummaryProvider::geminiAPI, "g-key", "ignored"), Ids{"gemini-x"});
    EXPECT_EQ(server.requests().at(0).target, "/v1beta/models?key=g-key");
    EXPECT_EQ(hostOf(server.requests().at(0)), "gemini.test");

    const Ids fallback{"gemini-1.5-flash", "gemini-1.5-pro"};
    server.reply(CannedReply::ok(R"({"nextPageToken":"x"})"));
    EXPECT_EQ(models.fetchModels(SummaryProvider::geminiAPI, "other", ""), fallback);
    server.reply(
        CannedReply::ok(R"({"models":[{"name":"models/e","supportedGenerationMethods":["embedContent"]}]})"));
    EXPECT_EQ(models.fetchModels(SummaryProvider::geminiAPI, "third", ""), fallback);
}

TEST_F(RemoteModelListsTest, TheAntigravityListReadsTheToolsModelsCommand) {
    tools.write("agy", R"(printf 'Usage: agy models [flags]\n\n  gemini-2.5-pro   (default)\nclaude-sonnet\n'
printf 'gemini-2.5-pro again\nUSAGE: repeated\n')",
                testing::FakeTools::Input::ignored);
    env.setSetting("antigravityCLICommand", "not-used");
    auto models = service();
    EXPECT_EQ(models.fetchModels(SummaryProvider::antigravityCLI, "", ""),
              (Ids{"gemini-2.5-pro", "claude-sonnet"}));
    EXPECT_EQ(tools.args("agy"), Ids{"models"});

    tools.write("agy", "exit 0", testing::FakeTools::Input::ignored);
    EXPECT_THROW(models.fetchModels(SummaryProvider::antigravityCLI, "k", ""), RemoteAISummarizationError);

    const auto restore = BuildFlavor::testOverride();
    BuildFlavor::setTestOverride(BuildFlavorType::appStore);
    std::filesystem::remove(env.dir() / "agy.args");
    const auto kind = failureOf([&] { models.fetchModels(SummaryProvider::antigravityCLI, "other", ""); });
    BuildFlavor::setTestOverride(restore);
    EXPECT_EQ(kind, FetchError::Kind::unsupportedProvider);
    EXPECT_FALSE(tools.ran("agy"));
}

// OpenRouter's entries.

std::string openRouterModels() {
    return R"({"data":[
        {"id":"a/free-tools","canonical_slug":"a/free-tools-2025","pricing":{"prompt":"0","completion":"0"},
         "supported_parameters":["temperature","tools"]},
        {"id":"b/half-free","pricing":{"prompt":"0"}},
        {"id":"c/decimal-zero","pricing":{"prompt":"0.0","completion":"0"}},
        {"id":"d/no-pricing"},
        {"id":"e/free-broken","canonical_slug":"","pricing":{"prompt":"0","completion":"0"}}]})";
}

CannedReply endpointsReply(const std::string& path) {
    if (path == "/api/v1/models/a/free-tools-2025/endpoints")
        return CannedReply::ok(R"({"data":{"endpoints":[
            {"uptime_last_30m":97.0,"latency_last_30m":{"p50":120}},
            {"uptime_last_30m":99.1,"latency_last_30m":{"p50":85.7}},
            {"uptime_last_30m":98.0}]}})");
    if (path == "/api/v1/models/d/no-pricing/endpoints")
        return CannedReply::ok(R"({"data":{"endpoints":[{"uptime_last_30m":99.4,"latency_last_30m":{}}]}})");
    if (path == "/api/v1/models/b/half-free/endpoints")
        return CannedReply::ok(
            R"({"data":{"endpoints":[{"uptime_last_30m":99.0,"latency_last_30m":{"p50":40}}]}})");
    return CannedReply::with(404, R"({"error":{"message":"not found"}})");
}

TEST_F(RemoteModelListsTest, OpenRouterEntriesCarryStatisticsAndComeBestFirst) {
    server.setHandler([](const RecordedRequest& request) {
        return request.path == "/api/v1/models" ? CannedReply::ok(openRouterModels())
                                                : endpointsReply(request.path);
    });
    platform::LogCapture logs;
    auto models = service();
    const auto infos = models.fetchOpenRouterModelInfos("or-key", false);
    ASSERT_EQ(infos.size(), 5u);
    // Uptimes 99.1, 99.0 and 99.4 lie within half a point: latency decides, none counting last.
    EXPECT_EQ(infos[0],
              (RemoteModelInfo{
                  .id = "b/half-free", .uptimeLast30m = 99.0, .latencyP50ms = 40, .supportsTools = false}));
    EXPECT_EQ(infos[1],
              (RemoteModelInfo{
                  .id = "a/free-tools", .uptimeLast30m = 99.1, .latencyP50ms = 85, .supportsTools = true}));
    EXPECT_EQ(infos[2], (RemoteModelInfo{.id = "d/no-pricing",
                                         .uptimeLast30m = 99.4,
                                         .latencyP50ms = std::nullopt,
                                         .supportsTools = false}));
    EXPECT_EQ(infos[3].uptimeLast30m, std::nullopt);
    EXPECT_EQ(infos[4].uptimeLast30m, std::nullopt);
    EXPECT_TRUE(logs.contains("fetchEndpointInfo a/free-tools: endpoints=3 uptime=99.1"));
    EXPECT_TRUE(logs.contains("fetchEndpointInfo c/decimal-zero: endpoints=0 uptime=nil"));
    for (const auto& request : server.requests())
        EXPECT_EQ(request.header("Authorization"), "Bearer or-key");

    const auto before = server.requestCount();
    EXPECT_EQ(models.fetchOpenRouterModelInfos("or-key", false), infos);
    EXPECT_EQ(server.requestCount(), before);

    // Free means both prices written "0"; an empty slug is used as it stands. The two statistics
    // requests run side by side, so they may arrive in either order.
    const auto free = models.fetchOpenRouterModelInfos("or-key", true);
    ASSERT_EQ(free.size(), 2u);
    EXPECT_EQ(free[0].id, "a/free-tools");
    EXPECT_EQ(free[1].id, "e/free-broken");
    std::set<std::string> paths;
    const auto seen = server.requests();
    for (auto it = seen.begin() + static_cast<std::ptrdiff_t>(before); it != seen.end(); ++it)
        paths.insert(it->path);
    EXPECT_EQ(paths, (std::set<std::string>{"/api/v1/models", "/api/v1/models/a/free-tools-2025/endpoints",
                                            "/api/v1/models//endpoints"}));
}

TEST_F(RemoteModelListsTest, NoMoreThanFiveStatisticsRequestsAreInFlight) {
    Json data = Json::array();
    for (int i = 0; i < 12; ++i)
        data.push_back(Json{{"id", "m/" + std::to_string(i)}});
    server.setHandler([&](const RecordedRequest& request) {
        if (request.path == "/api/v1/models")
            return CannedReply::ok(Json{{"data", data}}.dump());
        std::this_thread::sleep_for(60ms);
        return CannedReply::ok(R"({"data":{"endpoints":[]}})");
    });
    EXPECT_EQ(service().fetchOpenRouterModelInfos("k", false).size(), 12u);
    EXPECT_EQ(server.peakConcurrency(), 5);

    server.setHandler([&](const RecordedRequest&) { return CannedReply::ok(R"({"data":[{"id":"paid"}]})"); });
    auto models = service();
    EXPECT_TRUE(models.fetchOpenRouterModelInfos("k", true).empty());
    EXPECT_TRUE(models.fetchOpenRouterModelInfos("k", true).empty());
    EXPECT_EQ(server.requestCount(), 14u); // the empty list was kept
}

// A server that claims far more models than any provider offers: the picker gets the first ones
// in the server's order, and only those are asked for their statistics.
TEST_F(RemoteModelListsTest, ALyingListIsCutToItsFirstEntriesBeforeAnyStatistics) {
    constexpr std::size_t kLimit = RemoteModelFetchService::kMaxListedModels;
    Json data = Json::array();
    for (std::size_t i = 0; i < kLimit + 300; ++i)
        data.push_back(Json{{"id", "m/" + std::to_string(i)}});
    const std::string list = Json{{"data", data}}.dump();
    server.setHandler([&](const RecordedRequest& request) {
        if (request.path == "/api/v1/models" || request.path == "/v1/models")
            return CannedReply::ok(list);
        return CannedReply::ok(R"({"data":{"endpoints":[{"uptime_last_30m":99.0}]}})");
    });
    auto models = service();
    const Ids ids = models.fetchModels(SummaryProvider::openAI, "k", "");
    ASSERT_EQ(ids.size(), kLimit);
    EXPECT_EQ(ids.front(), "m/0");
    EXPECT_EQ(ids.back(), "m/" + std::to_string(kLimit - 1));

    const auto infos = models.fetchOpenRouterModelInfos("k", false);
    ASSERT_EQ(infos.size(), kLimit);
    EXPECT_EQ(server.requestCount(), 2 + kLimit);
    std::set<std::string> shown;
    for (const auto& info : infos)
        shown.insert(info.id);
    EXPECT_EQ(shown.size(), kLimit);
    EXPECT_FALSE(shown.contains("m/" + std::to_string(kLimit)));
}

RemoteModelInfo entry(const std::string& id, std::optional<double> uptime,
                      std::optional<std::int64_t> latency) {
    return RemoteModelInfo{
        .id = id, .uptimeLast30m = uptime, .latencyP50ms = latency, .supportsTools = false};
}

Ids idsOf(const std::vector<RemoteModelInfo>& infos) {
    Ids ids;
    for (const auto& info : infos)
        ids.push_back(info.id);
    return ids;
}

TEST_F(RemoteModelListsTest, RanksByUptimeUnlessCloseThenByLatency) {
    using Service = RemoteModelFetchService;
    EXPECT_TRUE(Service::ranksBefore(entry("a", 98.7, 100), entry("b", 99.0, 300)));
    EXPECT_TRUE(Service::ranksBefore(entry("a", 99.0, 300), entry("b", 98.4, 100)));
    EXPECT_FALSE(Service::ranksBefore(entry("a", 98.4, 100), entry("b", 99.0, 300)));
    EXPECT_TRUE(Service::ranksBefore(entry("a", 0.0, std::nullopt), entry("b", std::nullopt, 1)));
    EXPECT_TRUE(Service::ranksBefore(entry("a", std::nullopt, 5), entry("b", std::nullopt, 9)));
    EXPECT_TRUE(Service::ranksBefore(entry("a", 90.0, 5), entry("b", 90.0, std::nullopt)));
    EXPECT_FALSE(Service::ranksBefore(entry("a", 90.0, std::nullopt), entry("b", 90.0, std::nullopt)));

    std::vector<RemoteModelInfo> infos{entry("none-1", std::nullopt, std::nullopt), entry("low", 50.0, 10),
                                       entry("none-2", std::nullopt, std::nullopt), entry("high", 99.0, 900)};
    Service::rank(infos);
    EXPECT_EQ(idsOf(infos), (Ids{"high", "low", "none-1", "none-2"}));
}

TEST_F(RemoteModelListsTest, RankingIsAStableSortThatKeepsEveryEntry) {
    std::uint32_t seed = 7;
    const auto next = [&seed](std::uint32_t below) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % below;
    };
    // Uptimes a whole point apart compare consistently, so the result must be the one any
    // stable sort gives; uptimes a fraction apart chain, and then only the entries are checked.
    for (const double step : {1.0, 0.3}) {
        SCOPED_TRACE(step);
        std::vector<RemoteModelInfo> infos;
        for (int i = 0; i < 3000; ++i) {
            const auto uptime = next(6) == 0 ? std::nullopt : std::optional<double>(90.0 + step * next(8));
            const auto latency = next(4) == 0 ? std::nullopt : std::optional<std::int64_t>(next(50));
            infos.push_back(entry(std::to_string(i), uptime, latency));
        }
        auto ranked = infos;
        RemoteModelFetchService::rank(ranked);
        if (step == 1.0) {
            auto expected = infos;
            std::stable_sort(expected.begin(), expected.end(), RemoteModelFetchService::ranksBefore);
            EXPECT_EQ(idsOf(ranked), idsOf(expected));
        }
        auto sortedIds = idsOf(ranked);
        auto inputIds = idsOf(infos);
        std::sort(sortedIds.begin(), sortedIds.end());
        std::sort(inputIds.begin(), inputIds.end());
        EXPECT_EQ(sortedIds, inputIds);
    }
}

TEST_F(RemoteModelListsTest, LabelsShowToolsUptimeAndLatency) {
    auto info = entry("a/b", 99.6, 850);
    info.supportsTools = true;
    EXPECT_EQ(info.displayLabel(), "a/b [tool] \u2191100% 850ms");
    EXPECT_EQ(entry("x", 99.5, 0).displayLabel(), "x \u2191100%");
    EXPECT_EQ(entry("x", 98.5, std::nullopt).displayLabel(), "x \u219198%");
    EXPECT_EQ(entry("x", std::nullopt, 1).displayLabel(), "x 1ms");
    EXPECT_EQ(entry("x", std::nullopt, std::nullopt).displayLabel(), "x");
}

} // namespace
} // namespace velnote
