#pragma once

#include "providers/cli/RemoteAICLIClient.h"
#include "providers/core/ProviderEnvironment.h"
#include "session/config/SummaryProvider.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <tuple>
#include <vector>

namespace velnote {

// One OpenRouter model with the statistics of the providers that serve it.
struct RemoteModelInfo {
    std::string id;                           // the model list's "id" (never the slug)
    std::optional<double> uptimeLast30m;      // best uptime of the last 30 minutes, in percent
    std::optional<std::int64_t> latencyP50ms; // lowest median latency, in milliseconds
    bool supportsTools = false;

    // What the picker shows, e.g. "a/b [tool] ↑100% 850ms".
    std::string displayLabel() const;

    bool operator==(const RemoteModelInfo&) const = default;
};

// The model lists the providers offer, for the model pickers. Every list is kept in memory for the
// life of the process under everything that went into its request (provider, key and base URL
// exactly as passed), so asking again costs nothing; failures are not kept.
//
// Thread-safe: the maps sit behind one mutex, held only to look up and store; requests run on the
// caller's thread, which they block (60 s without data ends one). Calls with the same arguments are
// not merged: each fetches and the last to finish stays.
class RemoteModelFetchService {
  public:
    class FetchError : public std::runtime_error {
      public:
        enum class Kind { badServerResponse, missingAPIKey, unsupportedProvider };

        static FetchError badServerResponse(long status);
        static FetchError missingAPIKey();
        static FetchError unsupportedProvider();

        Kind kind() const { return kind_; }
        long status() const { return status_; } // badServerResponse only

      private:
        FetchError(Kind kind, long status);

        Kind kind_;
        long status_ = 0;
    };

    // The longest list handed to a picker. A provider offers a few hundred models at most; a
    // server that claims more is cut to its first entries in its own order (for OpenRouter before
    // the statistics, so no more than this many statistics requests are sent).
    static constexpr std::size_t kMaxListedModels = 500;

    explicit RemoteModelFetchService(ProviderEnvironment environment);

    // The application's, on the standard environment.
    static RemoteModelFetchService& shared();

    // The model identifiers of `provider` in the provider's own order. `baseURL` (blank: the
    // provider's default) serves the OpenAI-compatible, Anthropic and Ollama lists; `apiKey` is
    // needed by all but Ollama and the Antigravity tool. Fails with FetchError, the tool runner's
    // errors, platform::HttpError or platform::JsonDecodeError.
    std::vector<std::string> fetchModels(SummaryProvider provider, const std::string& apiKey,
                                         const std::string& baseURL, std::stop_token stop = {});

    // OpenRouter's models (only the free ones with `freeOnly`, at most kMaxListedModels), each
    // with its statistics from one further request per model (at most five at a time), best first.
    std::vector<RemoteModelInfo> fetchOpenRouterModelInfos(const std::string& apiKey, bool freeOnly,
                                                           std::stop_token stop = {});

    // The order of the OpenRouter entries: higher uptime first when two differ by more than half a
    // point, else lower latency first (none counts as the largest). Not transitive.
    static bool ranksBefore(const RemoteModelInfo& a, const RemoteModelInfo& b);
    // A stable sort by ranksBefore in O(n log n) comparisons that stays within the list whatever
    // the ranking answers.
    static void rank(std::vector<RemoteModelInfo>& infos);

  private:
    struct CacheKey {
        std::string provider; // the stored value
        std::string apiKey;
        std::string baseURL;

        bool operator<(const CacheKey& other) const {
            return std::tie(provider, apiKey, baseURL) <
                   std::tie(other.provider, other.apiKey, other.baseURL);
        }
    };
    struct OpenRouterModel {
        std::string id;
        std::optional<std::string> canonicalSlug;
        bool supportsTools = false;
    };

    std::vector<std::string> fetchFromAPI(SummaryProvider provider, const std::string& apiKey,
                                          const std::string& baseURL, std::stop_token stop) const;
    std::vector<std::string> fetchAntigravityCLIModels(std::stop_token stop) const;
    std::vector<OpenRouterModel> fetchOpenRouterModels(const std::string& apiKey, bool freeOnly,
                                                       std::stop_token stop) const;
    std::vector<std::string> fetchGeminiModels(const std::string& apiKey, std::stop_token stop) const;
    RemoteModelInfo fetchEndpointInfo(const OpenRouterModel& model, const std::string& apiKey,
                                      std::stop_token stop) const;

    ProviderEnvironment environment_;
    RemoteAICLIClient cli_;
    std::mutex mutex_;
    // Under mutex_:
    std::map<CacheKey, std::vector<std::string>> cache_;
    std::map<std::string, std::vector<RemoteModelInfo>> modelInfoCache_; // "openrouter_info_<free>_<key>"
};

} // namespace velnote
