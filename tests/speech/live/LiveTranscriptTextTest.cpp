#include "speech/live/LiveTranscriptText.h"

#include "platform/logging/Logger.h"
#include "speech/live/NewestBufferQueue.h"
#include "speech/live/RealtimeInputLanguage.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;

TEST(RealtimeInputLanguageTest, NormalisesThroughTheAliasTable) {
    struct Case {
        std::optional<std::string> input;
        std::optional<std::string> expected;
        bool logged;
    };
    const std::vector<Case> cases{
        {.input = "  Japanese\n", .expected = "ja-JP", .logged = false},
        {.input = "AUTO", .expected = std::nullopt, .logged = false},
        {.input = "自動判定", .expected = std::nullopt, .logged = false},
        {.input = "", .expected = std::nullopt, .logged = false},
        {.input = std::nullopt, .expected = std::nullopt, .logged = false},
        {.input = "ZH-Hant", .expected = "zh-TW", .logged = false},
        {.input = "中文简体", .expected = "zh-CN", .logged = false},
        {.input = "de-DE", .expected = "de-DE", .logged = false},
        {.input = "Português", .expected = "pt-BR", .logged = false},
        {.input = "ja_JP", .expected = std::nullopt, .logged = true},
        {.input = "en-GB", .expected = std::nullopt, .logged = true},
        {.input = "pt-PT", .expected = std::nullopt, .logged = true},
        {.input = "zh-hans", .expected = std::nullopt, .logged = true},
    };
    for (const auto& c : cases) {
        platform::LogCapture log;
        EXPECT_EQ(normalizedRealtimeInputLanguage(c.input), c.expected) << c.input.value_or("(none)");
        EXPECT_EQ(log.contains("unsupported inputLanguage"), c.logged) << c.input.value_or("(none)");
    }
    platform::LogCapture log;
    normalizedRealtimeInputLanguage(std::string("en-GB"));
    EXPECT_TRUE(log.contains("realtime: unsupported inputLanguage=en-gb; fallback to auto"));
}

TEST(LiveTranscriptTextTest, TimePrefixCountsMinutesWithoutHours) {
    EXPECT_EQ(liveTimePrefix(59900ms), "[00:59] ");
    EXPECT_EQ(liveTimePrefix(65s), "[01:05] ");
    EXPECT_EQ(liveTimePrefix(3600s), "[60:00] ");
    EXPECT_EQ(liveTimePrefix(6000s), "[100:00] ");
    EXPECT_EQ(liveTimePrefix(-5s), "[00:00] ");
}

TEST(LiveTranscriptTextTest, InterimTextRules) {
    struct Case {
        std::string text;
        bool accepted;
    };
    const std::vector<Case> cases{
        {.text = "", .accepted = false},     {.text = "a", .accepted = false},
        {.text = " a", .accepted = true},    {.text = "。。", .accepted = false},
        {.text = "!?", .accepted = false},   {.text = "ok.", .accepted = true},
        {.text = "…", .accepted = false},    {.text = "…。", .accepted = true},
        {.text = "  \n", .accepted = false}, {.text = "？！、", .accepted = false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shouldAcceptInterimText(c.text), c.accepted) << c.text;
    }
}

TEST(LiveTranscriptTextTest, PreviewJoinsTheChannelsInterimTexts) {
    EXPECT_EQ(joinedInterimTexts("hello", "world"), "hello / world");
    EXPECT_EQ(joinedInterimTexts("", "world"), "world");
    EXPECT_EQ(joinedInterimTexts("hello", ""), "hello");
    EXPECT_EQ(joinedInterimTexts("", ""), "");
}

TEST(LiveTranscriptTextTest, TranscriptTailKeepsTheLastCharacters) {
    const std::vector<std::string> lines{std::string(12000, 'a'), std::string(12000, 'b')};
    EXPECT_EQ(transcriptTail(lines, 24000), std::string(11999, 'a') + "\n" + std::string(12000, 'b'));
    EXPECT_EQ(transcriptTail({"日本語", "です"}, 4), "語\nです");
    EXPECT_EQ(transcriptTail({"a", "b"}, 24000), "a\nb");
    EXPECT_EQ(transcriptTail({}, 24000), "");
}

TEST(NewestBufferQueueTest, TheThirtyThirdWaitingValueDropsTheOldest) {
    NewestBufferQueue<int> queue(32);
    EXPECT_TRUE(queue.push(0).wakeConsumer);
    for (int i = 1; i < 32; ++i) {
        const auto pushed = queue.push(i);
        EXPECT_FALSE(pushed.wakeConsumer);
        EXPECT_FALSE(pushed.droppedOldest);
    }
    EXPECT_TRUE(queue.push(32).droppedOldest);
    EXPECT_EQ(queue.pop(), 1);
    for (int i = 2; i <= 32; ++i) {
        EXPECT_EQ(queue.pop(), i);
    }
    EXPECT_EQ(queue.pop(), std::nullopt);
    EXPECT_TRUE(queue.push(33).wakeConsumer); // idle again after the empty pop
    queue.close();
    EXPECT_EQ(queue.pop(), std::nullopt);
    EXPECT_FALSE(queue.push(34).wakeConsumer);
}

} // namespace
} // namespace velnote
