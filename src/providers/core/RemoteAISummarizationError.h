#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velnote {

// The one error of the remote providers (chat APIs, command-line tools, model lists). what() is
// the user-visible description, a fixed Japanese text in every interface language.
class RemoteAISummarizationError : public std::runtime_error {
  public:
    enum class Kind {
        missingSetting,                 // detail(): the setting or keyring account
        invalidEndpoint,                // detail(): the endpoint text as passed in
        httpError,                      // detail(): e.g. "status=429 body=..."
        cliUnavailableInAppStore,       // detail(): the provider's stored value
        cliFailed,                      // command(), status(), standardError()
        cliTimeout,                     // command(), standardError()
        invalidProvider,                // detail(): the provider's stored value
        providerTemporarilyUnavailable, // detail(): a provider text
        emptyResponse,
    };

    static RemoteAISummarizationError missingSetting(std::string name);
    static RemoteAISummarizationError invalidEndpoint(std::string endpoint);
    static RemoteAISummarizationError httpError(std::string detail);
    static RemoteAISummarizationError cliUnavailableInAppStore(std::string provider);
    static RemoteAISummarizationError cliFailed(std::string command, std::int32_t status,
                                                std::string standardError);
    static RemoteAISummarizationError cliTimeout(std::string command, std::string standardError);
    static RemoteAISummarizationError invalidProvider(std::string provider);
    static RemoteAISummarizationError providerTemporarilyUnavailable(std::string provider);
    static RemoteAISummarizationError emptyResponse();

    Kind kind() const { return kind_; }
    const std::string& detail() const { return detail_; }
    const std::string& command() const { return command_; }
    std::int32_t status() const { return status_; }
    const std::string& standardError() const { return standardError_; }

    bool operator==(const RemoteAISummarizationError& other) const {
        return kind_ == other.kind_ && detail_ == other.detail_ && command_ == other.command_ &&
               status_ == other.status_ && standardError_ == other.standardError_;
    }

  private:
    RemoteAISummarizationError(Kind kind, std::string detail, std::string command, std::int32_t status,
                               std::string standardError);

    Kind kind_;
    std::string detail_;
    std::string command_;
    std::int32_t status_ = 0;
    std::string standardError_;
};

// Whether a tool's error output says a quota or rate limit was hit: "quota exceeded", "rate
// limit" or "429" in any letter case.
bool mentionsUsageLimit(const std::string& standardError);

} // namespace velnote
