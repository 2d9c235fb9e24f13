#include "providers/core/RemoteAISummarizationError.h"

#include <algorithm>

namespace velnote {
namespace {

using Kind = RemoteAISummarizationError::Kind;

std::string asciiLowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return text;
}

std::string usageLimitText(const std::string& command) {
    return "要約APIの利用制限（Quota / Rate Limit）に達しました。時間をおいて再度お試しください。(" +
           command + ")";
}

std::string describe(Kind kind, const std::string& detail, const std::string& command, std::int32_t status,
                     const std::string& standardError) {
    switch (kind) {
    case Kind::missingSetting:
        return "要約設定が不足しています: " + detail;
    case Kind::invalidEndpoint:
        return "要約APIエンドポイントが不正です: " + detail;
    case Kind::httpError:
        return "要約APIの呼び出しに失敗しました: " + detail;
    case Kind::cliUnavailableInAppStore:
        return detail + " は AppStore 版では利用できません";
    case Kind::cliFailed:
        if (mentionsUsageLimit(standardError))
            return usageLimitText(command);
        return "CLI実行に失敗しました: " + command + " (status=" + std::to_string(status) + ") " +
               standardError;
    case Kind::cliTimeout:
        if (mentionsUsageLimit(standardError))
            return usageLimitText(command);
        return "CLI がタイムアウトしました: " + command;
    case Kind::invalidProvider:
        return "このプロバイダはリモート要約サービスの対象外です: " + detail;
    case Kind::providerTemporarilyUnavailable:
        return "このプロバイダは現在未実装です: " + detail;
    case Kind::emptyResponse:
        break;
    }
    return "要約結果が空でした";
}

} // namespace

RemoteAISummarizationError::RemoteAISummarizationError(Kind kind, std::string detail, std::string command,
                                                       std::int32_t status, std::string standardError)
    : std::runtime_error(describe(kind, detail, command, status, standardError)), kind_(kind),
      detail_(std::move(detail)), command_(std::move(command)), status_(status),
      standardError_(std::move(standardError)) {}

bool mentionsUsageLimit(const std::string& standardError) {
    const std::string lower = asciiLowercased(standardError);
    for (const char* word : {"quota exceeded", "rate limit", "429"}) {
        if (lower.find(word) != std::string::npos)
            return true;
    }
    return false;
}

RemoteAISummarizationError RemoteAISummarizationError::missingSetting(std::string name) {
    return {Kind::missingSetting, std::move(name), "", 0, ""};
}
RemoteAISummarizationError RemoteAISummarizationError::invalidEndpoint(std::string endpoint) {
    return {Kind::invalidEndpoint, std::move(endpoint), "", 0, ""};
}
RemoteAISummarizationError RemoteAISummarizationError::httpError(std::string detail) {
    return {Kind::httpError, std::move(detail), "", 0, ""};
}
RemoteAISummarizationError RemoteAISummarizationError::cliUnavailableInAppStore(std::string provider) {
    return {Kind::cliUnavailableInAppStore, std::move(provider), "", 0, ""};
}
RemoteAISummarizationError RemoteAISummarizationError::cliFailed(std::string command, std::int32_t status,
                                                                 std::string standardError) {
    return {Kind::cliFailed, "", std::move(command), status, std::move(standardError)};
}
RemoteAISummarizationError RemoteAISummarizationError::cliTimeout(std::string command,
                                                                  std::string standardError) {
    return {Kind::cliTimeout, "", std::move(command), 0, std::move(standardError)};
}
RemoteAISummarizationError RemoteAISummarizationError::invalidProvider(std::string provider) {
    return {Kind::invalidProvider, std::move(provider), "", 0, ""};
}
RemoteAISummarizationError RemoteAISummarizationError::providerTemporarilyUnavailable(std::string provider) {
    return {Kind::providerTemporarilyUnavailable, std::move(provider), "", 0, ""};
}
RemoteAISummarizationError RemoteAISummarizationError::emptyResponse() {
    return {Kind::emptyResponse, "", "", 0, ""};
}

} // namespace velnote
