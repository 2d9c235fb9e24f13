#include "providers/models/RemoteModelFetchService.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/flavor/BuildFlavor.h"
#include "platform/http/HttpUrl.h"
#include "platform/json/Json.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Lines.h"
#include "platform/text/Whitespace.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>
#include <unordered_set>

namespace velnote {

using platform::Json;
using Headers = std::vector<std::pair<std::string, std::string>>;

namespace {

constexpr auto kRequestIdleTimeout = std::chrono::seconds(60);
constexpr std::size_t kStatisticsInFlight = 5;

// Reply members as the lists read them; unknown members are ignored.
struct IdEntry {
    std::string id;
};
void from_json(const Json& j, IdEntry& e) {
    e.id = platform::required<std::string>(j, "id");
}

struct NameEntry {
    std::string name;
};
void from_json(const Json& j, NameEntry& e) {
    e.name = platform::required<std::string>(j, "name");
}

struct GeminiEntry {
    std::string name;
    std::optional<std::vector<std::string>> methods;
};
void from_json(const Json& j, GeminiEntry& e) {
    e.name = platform::required<std::string>(j, "name");
    e.methods = platform::optional<std::vector<std::string>>(j, "supportedGenerationMethods");
}

struct Pricing {
    std::optional<std::string> prompt;
    std::optional<std::string> completion;
};
void from_json(const Json& j, Pricing& p) {
    p.prompt = platform::optional<std::string>(j, "prompt");
    p.completion = platform::optional<std::string>(j, "completion");
}

struct OpenRouterEntry {
    std::string id;
    std::optional<std::string> canonicalSlug;
    std::optional<Pricing> pricing;
    std::optional<std::vector<std::string>> supportedParameters;
};
void from_json(const Json& j, OpenRouterEntry& e) {
    e.id = platform::required<std::string>(j, "id");
    e.canonicalSlug = platform::optional<std::string>(j, "canonical_slug");
    e.pricing = platform::optional<Pricing>(j, "pricing");
    e.supportedParameters = platform::optional<std::vector<std::string>>(j, "supported_parameters");
}

struct Latency {
    std::optional<double> p50;
};
void from_json(const Json& j, Latency& l) {
    l.p50 = platform::optional<double>(j, "p50");
}

struct Endpoint {
    std::optional<double> uptime;
    std::optional<Latency> latency;
};
void from_json(const Json& j, Endpoint& e) {
    e.uptime = platform::optional<double>(j, "uptime_last_30m");
    e.latency = platform::optional<Latency>(j, "latency_last_30m");
}

struct EndpointData {
    std::optional<std::vector<Endpoint>> endpoints;
};
void from_json(const Json& j, EndpointData& d) {
    d.endpoints = platform::optional<std::vector<Endpoint>>(j, "endpoints");
}

bool isFree(const std::optional<Pricing>& pricing) {
    return pricing && pricing->prompt == "0" && pricing->completion == "0";
}

bool contains(const std::optional<std::vector<std::string>>& list, std::string_view value) {
    return list && std::find(list->begin(), list->end(), value) != list->end();
}

template <class Entry, class F>
std::vector<std::string> collect(const std::vector<Entry>& entries, F&& identifier) {
    std::vector<std::string> ids;
    ids.reserve(entries.size());
    for (const auto& entry : entries)
        ids.push_back(identifier(entry));
    return ids;
}

// A list longer than any provider offers is cut to its first entries.
template <class Entry> void keepFirstListed(std::vector<Entry>& entries) {
    if (entries.size() > RemoteModelFetchService::kMaxListedModels)
        entries.resize(RemoteModelFetchService::kMaxListedModels);
}

std::string withoutOneTrailingSlash(std::string base) {
    if (!base.empty() && base.back() == '/')
        base.pop_back();
    return base;
}

std::string bearer(const std::string& apiKey) {
    return "Bearer " + apiKey;
}

// The shortest decimal text that reads back as `value`, as the log shows a number.
std::string decimalText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

} // namespace

RemoteModelFetchService::FetchError::FetchError(Kind kind, long status)
    : std::runtime_error([&] {
          switch (kind) {
          case Kind::badServerResponse:
              return L10n::localized("L10n.ModelFetch.badServerResponse", "Server returned error: %d",
                                     {static_cast<std::int64_t>(status)});
          case Kind::missingAPIKey:
              return L10n::localized("L10n.ModelFetch.missingAPIKey", "API key is required to fetch models");
          case Kind::unsupportedProvider:
              break;
          }
          return L10n::localized("L10n.ModelFetch.unsupportedProvider",
                                 "Model list not available for this provider");
      }()),
      kind_(kind), status_(status) {}

RemoteModelFetchService::FetchError RemoteModelFetchService::FetchError::badServerResponse(long status) {
    return FetchError(Kind::badServerResponse, status);
}
RemoteModelFetchService::FetchError RemoteModelFetchService::FetchError::missingAPIKey() {
    return FetchError(Kind::missingAPIKey, 0);
}
RemoteModelFetchService::FetchError RemoteModelFetchService::FetchError::unsupportedProvider() {
    return FetchError(Kind::unsupportedProvider, 0);
}

std::string RemoteModelInfo::displayLabel() const {
    std::string label = id;
    if (supportsTools)
        label += " [tool]";
    if (uptimeLast30m) {
        char uptime[64];
        // printf rounds an exact half to the even neighbour: 98.5 shows 98, 99.5 shows 100.
        std::snprintf(uptime, sizeof uptime, " \u2191%.0f%%", *uptimeLast30m);
        label += uptime;
    }
    if (latencyP50ms && *latencyP50ms >= 1)
        label += " " + std::to_string(*latencyP50ms) + "ms";
    return label;
}

RemoteModelFetchService::RemoteModelFetchService(ProviderEnvironment environment)
    : environment_(environment), cli_(std::move(environment)) {}

RemoteModelFetchService& RemoteModelFetchService::shared() {
    static RemoteModelFetchService* service = new RemoteModelFetchService(ProviderEnvironment::standard());
    return *service;
}

namespace {

// One GET of a model list: the body of a 2xx reply parsed as JSON.
Json getList(const ProviderEnvironment& environment, const std::string& url, const Headers& headers,
             bool ownTimeout, std::stop_token stop) {
    platform::HttpRequest request;
    request.url = url;
    request.headers = headers;
    if (ownTimeout)
        request.idleTimeout = kRequestIdleTimeout;
    const auto response = environment.http->send(request, std::move(stop));
    if (response.status < 200 || response.status > 299)
        throw RemoteModelFetchService::FetchError::badServerResponse(response.status);
    return platform::parseJson(response.body);
}

} // namespace

std::vector<std::string> RemoteModelFetchService::fetchModels(SummaryProvider provider,
                                                              const std::string& apiKey,
                                                              const std::string& baseURL,
                                                              std::stop_token stop) {
    const CacheKey key{std::string(rawValue(provider)), apiKey, baseURL};
    {
        std::lock_guard lock(mutex_);
        if (const auto found = cache_.find(key); found != cache_.end())
            return found->second;
    }
    auto models = fetchFromAPI(provider, apiKey, baseURL, std::move(stop));
    keepFirstListed(models);
    std::lock_guard lock(mutex_);
    cache_[key] = models;
    return models;
}

std::vector<std::string> RemoteModelFetchService::fetchFromAPI(SummaryProvider provider,
                                                               const std::string& apiKey,
                                                               const std::string& baseURL,
                                                               std::stop_token stop) const {
    const RemoteEndpoints& endpoints = environment_.endpoints;
    const std::string trimmed = platform::trimWhitespace(baseURL);
    const auto base = [&](const std::string& fallback) {
        return withoutOneTrailingSlash(trimmed.empty() ? fallback : trimmed);
    };
    const auto needKey = [&] {
        if (apiKey.empty())
            throw FetchError::missingAPIKey();
    };
    switch (provider) {
    case SummaryProvider::openAI:
    case SummaryProvider::githubCopilotAPI: {
        needKey();
        const bool openAI = provider == SummaryProvider::openAI;
        const std::string url =
            openAI ? base(endpoints.openAI) + "/v1/models" : base(endpoints.githubCopilot) + "/models";
        const Json reply =
            getList(environment_, url, {{"Authorization", bearer(apiKey)}}, true, std::move(stop));
        return collect(platform::required<std::vector<IdEntry>>(reply, "data"),
                       [](const IdEntry& e) { return e.id; });
    }
    case SummaryProvider::claudeAPI: {
        needKey();
        const Json reply =
            getList(environment_, base(endpoints.anthropic) + "/v1/models?limit=100",
                    {{"x-api-key", apiKey}, {"anthropic-version", "2023-06-01"}}, true, std::move(stop));
        return collect(platform::required<std::vector<IdEntry>>(reply, "data"),
                       [](const IdEntry& e) { return e.id; });
    }
    case SummaryProvider::ollama: {
        const Json reply =
            getList(environment_, base(endpoints.ollama) + "/api/tags", {}, false, std::move(stop));
        return collect(platform::required<std::vector<NameEntry>>(reply, "models"),
                       [](const NameEntry& e) { return e.name; });
    }
    case SummaryProvider::openRouter:
        return collect(fetchOpenRouterModels(apiKey, false, std::move(stop)),
                       [](const OpenRouterModel& m) { return m.id; });
    case SummaryProvider::geminiAPI:
        return fetchGeminiModels(apiKey, std::move(stop));
    case SummaryProvider::antigravityCLI:
        return fetchAntigravityCLIModels(std::move(stop));
    default:
        throw FetchError::unsupportedProvider();
    }
}

std::vector<std::string> RemoteModelFetchService::fetchGeminiModels(const std::string& apiKey,
                                                                    std::stop_token stop) const {
    if (apiKey.empty())
        throw FetchError::missingAPIKey();
    // The key goes into the query as it stands: a key that breaks the URL fails as a bad URL.
    const Json reply = getList(environment_, environment_.endpoints.gemini + "/v1beta/models?key=" + apiKey,
                               {}, true, std::move(stop));
    std::vector<std::string> models;
    for (auto& entry :
         platform::optional<std::vector<GeminiEntry>>(reply, "models").value_or(std::vector<GeminiEntry>{})) {
        if (!contains(entry.methods, "generateContent"))
            continue;
        std::string name = std::move(entry.name);
        for (std::size_t at; (at = name.find("models/")) != std::string::npos;)
            name.erase(at, 7);
        models.push_back(std::move(name));
    }
    if (models.empty())
        return {"gemini-1.5-flash", "gemini-1.5-pro"};
    return models;
}

std::vector<std::string> RemoteModelFetchService::fetchAntigravityCLIModels(std::stop_token stop) const {
    if (BuildFlavor::overrideIsAppStore())
        throw FetchError::unsupportedProvider();
    const std::string output = cli_.runCLI("agy", {"models"}, "", std::move(stop));
    std::vector<std::string> models;
    std::unordered_set<std::string> seen;
    for (const auto& rawLine : platform::splitLines(output)) {
        const std::string line = platform::trimWhitespace(rawLine);
        if (line.empty() || platform::lowercased(line).starts_with("usage:"))
            continue;
        std::string model = extractModelID(line);
        if (!model.empty() && seen.insert(model).second)
            models.push_back(std::move(model));
    }
    return models;
}

std::vector<RemoteModelFetchService::OpenRouterModel>
RemoteModelFetchService::fetchOpenRouterModels(const std::string& apiKey, bool freeOnly,
                                               std::stop_token stop) const {
    if (apiKey.empty())
        throw FetchError::missingAPIKey();
    const Json reply = getList(environment_, environment_.endpoints.openRouterOrigin + "/api/v1/models",
                               {{"Authorization", bearer(apiKey)}}, true, std::move(stop));
    std::vector<OpenRouterModel> models;
    for (auto& entry : platform::required<std::vector<OpenRouterEntry>>(reply, "data")) {
        if (freeOnly && !isFree(entry.pricing))
            continue;
        models.push_back(OpenRouterModel{.id = std::move(entry.id),
                                         .canonicalSlug = std::move(entry.canonicalSlug),
                                         .supportsTools = contains(entry.supportedParameters, "tools")});
    }
    return models;
}

std::vector<RemoteModelInfo> RemoteModelFetchService::fetchOpenRouterModelInfos(const std::string& apiKey,
                                                                                bool freeOnly,
                                                                                std::stop_token stop) {
    const std::string key = std::string("openrouter_info_") + (freeOnly ? "true" : "false") + "_" + apiKey;
    {
        std::lock_guard lock(mutex_);
        if (const auto found = modelInfoCache_.find(key); found != modelInfoCache_.end())
            return found->second;
    }
    auto models = fetchOpenRouterModels(apiKey, freeOnly, stop);
    keepFirstListed(models);

    // At most five statistics requests in flight; entries are kept in the order they finish.
    std::vector<RemoteModelInfo> infos;
    std::mutex collected;
    std::atomic<std::size_t> next{0};
    {
        std::vector<std::jthread> workers;
        for (std::size_t i = 0; i < std::min(kStatisticsInFlight, models.size()); ++i) {
            workers.emplace_back([&] {
                for (std::size_t at; (at = next++) < models.size() && !stop.stop_requested();) {
                    RemoteModelInfo info = fetchEndpointInfo(models[at], apiKey, stop);
                    std::lock_guard lock(collected);
                    infos.push_back(std::move(info));
                }
            });
        }
    }
    platform::throwIfCancelled(stop);
    rank(infos);
    std::lock_guard lock(mutex_);
    modelInfoCache_[key] = infos;
    return infos;
}

RemoteModelInfo RemoteModelFetchService::fetchEndpointInfo(const OpenRouterModel& model,
                                                           const std::string& apiKey,
                                                           std::stop_token stop) const {
    RemoteModelInfo info{.id = model.id,
                         .uptimeLast30m = std::nullopt,
                         .latencyP50ms = std::nullopt,
                         .supportsTools = model.supportsTools};
    const std::string slug = model.canonicalSlug.value_or(model.id);
    const auto url = platform::parseHttpUrl(environment_.endpoints.openRouterOrigin + "/api/v1/models/" +
                                            slug + "/endpoints");
    if (!url)
        return info;
    const auto& log = VelnoteLogger::app();
    std::vector<Endpoint> endpoints;
    try {
        platform::HttpRequest request;
        request.url = url->text;
        request.idleTimeout = kRequestIdleTimeout;
        request.headers = {{"Authorization", bearer(apiKey)}};
        // Whatever the status, the body is read: an error reply simply has no statistics.
        const auto response = environment_.http->send(request, stop);
        const Json reply = platform::parseJson(response.body);
        const auto data = platform::optional<EndpointData>(reply, "data");
        if (data && data->endpoints)
            endpoints = *data->endpoints;
    } catch (const platform::CancellationError&) {
        return info;
    } catch (const std::exception& e) {
        log.error("fetchEndpointInfo failed for {}: {}", model.id, e.what());
        return info;
    }
    for (const auto& endpoint : endpoints) {
        if (endpoint.uptime)
            info.uptimeLast30m = std::max(info.uptimeLast30m.value_or(*endpoint.uptime), *endpoint.uptime);
        const auto p50 = endpoint.latency ? endpoint.latency->p50 : std::nullopt;
        // A latency outside the integer range (or not a number) is no latency.
        if (p50 && std::isfinite(*p50) && std::abs(*p50) < 9.2e18) {
            const auto ms = static_cast<std::int64_t>(*p50);
            info.latencyP50ms = std::min(info.latencyP50ms.value_or(ms), ms);
        }
    }
    log.debug("fetchEndpointInfo {}: endpoints={} uptime={}", model.id, endpoints.size(),
              info.uptimeLast30m ? decimalText(*info.uptimeLast30m) : "nil");
    return info;
}

bool RemoteModelFetchService::ranksBefore(const RemoteModelInfo& a, const RemoteModelInfo& b) {
    const double ua = a.uptimeLast30m.value_or(-1);
    const double ub = b.uptimeLast30m.value_or(-1);
    if (std::abs(ua - ub) > 0.5)
        return ua > ub;
    const auto lb = b.latencyP50ms.value_or(std::numeric_limits<std::int64_t>::max());
    return a.latencyP50ms && *a.latencyP50ms < lb;
}

void RemoteModelFetchService::rank(std::vector<RemoteModelInfo>& infos) {
    // A bottom-up merge sort: each merge reads only its two runs, so a ranking that is not
    // transitive cannot lead it out of the list, and an entry of the right-hand run goes first
    // only when it ranks before, which keeps equals in their order.
    const std::size_t n = infos.size();
    std::vector<RemoteModelInfo> merged(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t low = 0; low < n; low += 2 * width) {
            const std::size_t middle = std::min(low + width, n);
            const std::size_t high = std::min(middle + width, n);
            std::size_t left = low, right = middle, out = low;
            while (left < middle && right < high)
                merged[out++] =
                    std::move(ranksBefore(infos[right], infos[left]) ? infos[right++] : infos[left++]);
            while (left < middle)
                merged[out++] = std::move(infos[left++]);
            while (right < high)
                merged[out++] = std::move(infos[right++]);
        }
        infos.swap(merged);
    }
}

} // namespace velnote
