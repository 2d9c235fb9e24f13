#include "providers/core/RemoteAISummarizationError.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using Error = RemoteAISummarizationError;

const std::string kLimit =
    "要約APIの利用制限（Quota / Rate Limit）に達しました。時間をおいて再度お試しください。(claude)";

TEST(RemoteAISummarizationErrorTest, DescribesEveryCase) {
    const std::pair<Error, std::string> cases[] = {
        {Error::missingSetting("openAIAPIKey"), "要約設定が不足しています: openAIAPIKey"},
        {Error::invalidEndpoint(" http://x:y "), "要約APIエンドポイントが不正です:  http://x:y "},
        {Error::httpError("status=429 body=Too Many Requests"),
         "要約APIの呼び出しに失敗しました: status=429 body=Too Many Requests"},
        {Error::cliUnavailableInAppStore("copilot_cli"), "copilot_cli は AppStore 版では利用できません"},
        {Error::cliFailed("claude", 2, "boom"), "CLI実行に失敗しました: claude (status=2) boom"},
        {Error::cliFailed("claude", 2, ""), "CLI実行に失敗しました: claude (status=2) "},
        {Error::cliFailed("agy", -9, "x"), "CLI実行に失敗しました: agy (status=-9) x"},
        {Error::cliTimeout("copilot", "some noise"), "CLI がタイムアウトしました: copilot"},
        {Error::invalidProvider("local"), "このプロバイダはリモート要約サービスの対象外です: local"},
        {Error::providerTemporarilyUnavailable("x"), "このプロバイダは現在未実装です: x"},
        {Error::emptyResponse(), "要約結果が空でした"},
    };
    for (const auto& [error, description] : cases)
        EXPECT_EQ(error.what(), description);
}

TEST(RemoteAISummarizationErrorTest, ToolErrorsThatMentionALimitSayThatInstead) {
    for (const std::string stderrText :
         {"Quota Exceeded for today", "error: RATE LIMIT reached", "HTTP 429 from upstream", "rate limit"}) {
        EXPECT_EQ(Error::cliFailed("claude", 1, stderrText).what(), kLimit) << stderrText;
        EXPECT_EQ(Error::cliTimeout("claude", stderrText).what(), kLimit) << stderrText;
    }
    EXPECT_EQ(Error::cliFailed("claude", 1, "quota reached").what(),
              std::string("CLI実行に失敗しました: claude (status=1) quota reached"));
    // Only the tool errors look for limits.
    EXPECT_EQ(Error::httpError("status=429 body=").what(),
              std::string("要約APIの呼び出しに失敗しました: status=429 body="));
}

TEST(RemoteAISummarizationErrorTest, KeepsItsPayload) {
    const Error failed = Error::cliFailed("claude", 3, "e");
    EXPECT_EQ(failed.kind(), Error::Kind::cliFailed);
    EXPECT_EQ(failed.command(), "claude");
    EXPECT_EQ(failed.status(), 3);
    EXPECT_EQ(failed.standardError(), "e");
    EXPECT_EQ(Error::missingSetting("a"), Error::missingSetting("a"));
    EXPECT_FALSE(Error::missingSetting("a") == Error::invalidEndpoint("a"));
}

} // namespace
} // namespace velnote
