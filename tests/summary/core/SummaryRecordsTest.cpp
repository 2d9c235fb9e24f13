#include "summary/core/NativeSummarizationError.h"
#include "summary/core/StructuredSummaryResponse.h"
#include "summary/core/SummaryFallbackRecorder.h"

#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace velnote {
namespace {

using platform::decode;
using platform::JsonDecodeError;
using platform::parseJson;

TEST(StructuredSummaryResponseTest, ReadsStrictlyAndIgnoresExtraKeys) {
    const auto response = decode<StructuredSummaryResponse>(parseJson(R"({
        "title": "Weekly", "extra": [1, 2],
        "sections": [{"heading": "A", "format": "list", "content": "- x", "note": null}]})"));
    EXPECT_EQ(response,
              (StructuredSummaryResponse{
                  .title = "Weekly", .sections = {{.heading = "A", .format = "list", .content = "- x"}}}));
    EXPECT_TRUE(
        decode<StructuredSummaryResponse>(parseJson(R"({"title":"","sections":[]})")).sections.empty());

    const char* failing[] = {
        R"({"title": "t"})",
        R"({"title": 5, "sections": []})",
        R"({"title": null, "sections": []})",
        R"({"title": "t", "sections": [{"heading": "h", "content": "c"}]})",
        R"({"title": "t", "sections": [{"heading": "h", "format": 1, "content": "c"}]})",
        R"({"title": "t", "sections": {}})",
        R"([{"title": "t", "sections": []}])",
    };
    for (const char* text : failing)
        EXPECT_THROW(decode<StructuredSummaryResponse>(parseJson(text)), JsonDecodeError) << text;
}

TEST(StructuredSummaryResponseTest, WritesTheSameShapeItReads) {
    const StructuredSummaryResponse response{
        .title = "T", .sections = {{.heading = "H", .format = "markdown", .content = "c"}}};
    const platform::Json json = response;
    EXPECT_EQ(decode<StructuredSummaryResponse>(json), response);
}

TEST(SummaryFallbackRecorderTest, JoinsNotesByLineAndLosesNoneUnderConcurrency) {
    SummaryFallbackRecorder recorder;
    EXPECT_EQ(recorder.details(), std::nullopt);
    recorder.append("A");
    recorder.append("B");
    EXPECT_EQ(recorder.details(), "A\nB");

    SummaryFallbackRecorder shared;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&shared, t] {
            for (int i = 0; i < 200; ++i)
                shared.append("provider=openai;chunk=" + std::to_string(t * 1000 + i));
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::set<std::string> lines;
    std::string details = *shared.details();
    for (std::size_t start = 0, end = 0; start <= details.size(); start = end + 1) {
        end = details.find('\n', start);
        if (end == std::string::npos)
            end = details.size();
        lines.insert(details.substr(start, end - start));
    }
    EXPECT_EQ(lines.size(), 1600u);
}

TEST(NativeSummarizationErrorTest, DescriptionsAreJapaneseWithTheirDetails) {
    EXPECT_STREQ(NativeSummarizationError::cliUnavailableInAppStore("claude_cli").what(),
                 "claude_cli は AppStore 版では利用できません");
    EXPECT_STREQ(NativeSummarizationError::modelNotFound("m", {"/a", "/b"}).what(),
                 "モデルが見つかりません: m / searched=/a,/b");
    EXPECT_STREQ(NativeSummarizationError::modelDownloadFailed("m", "timeout").what(),
                 "モデルの自動ダウンロードに失敗しました: m / timeout");
    EXPECT_STREQ(NativeSummarizationError::emptySummary().what(), "要約結果が空でした");
    EXPECT_EQ(NativeSummarizationError::noModelSpec("x").kind(), NativeSummarizationError::Kind::noModelSpec);
}

} // namespace
} // namespace velnote
