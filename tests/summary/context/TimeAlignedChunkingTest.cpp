#include "summary/context/TimeAlignedChunking.h"

#include "summary/context/SummaryContextBuilder.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace SummaryContextBuilder;

TimestampedEntry spoken(float time, std::string text) {
    return {.source = conversationRecordLabel(), .startTime = time, .text = std::move(text)};
}
TimestampedEntry live(float time, std::string text) {
    return {.source = liveTranscriptLabel(), .startTime = time, .text = std::move(text)};
}
TimestampedEntry screen(float time, std::string text) {
    return {.source = std::string(kScreenOCRSource), .startTime = time, .text = std::move(text)};
}

TEST(TimeAlignedChunkingTest, ClocksAndLabels) {
    const struct {
        float seconds;
        const char* clock;
    } clocks[] = {{83.9f, "00:01:23"},
                  {-5, "00:00:00"},
                  {599.99f, "00:09:59"},
                  {360000, "100:00:00"},
                  {1e30f, "2500000:00:00"}};
    for (const auto& c : clocks)
        EXPECT_EQ(formatClock(c.seconds), c.clock) << c.seconds;

    const auto single = buildTimeAlignedSourceChunks({spoken(83.9f, "Hello")}, {}, {}, 1000, 0);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0], (SummarySourceChunk{.label = "時間帯 00:01:23",
                                             .text = "【Conversation Record】\n[00:01:23] Hello"}));
    EXPECT_EQ(buildTimeAlignedSourceChunks({spoken(0, "a"), spoken(0, "b")}, {}, {}, 1000, 0)[0].label,
              "時間帯 00:00:00");
    EXPECT_EQ(buildTimeAlignedSourceChunks({spoken(5.2f, "a"), spoken(5.7f, "b")}, {}, {}, 1000, 0)[0].label,
              "時間帯 00:00:05 - 00:00:05");
    EXPECT_TRUE(buildTimeAlignedSourceChunks({}, {}, {}, 1000, 0).empty());
}

TEST(TimeAlignedChunkingTest, BlocksFollowTheSourceOrderAndTheSameSecondSortsBySource) {
    const auto chunks = buildTimeAlignedSourceChunks(
        {spoken(602, "Let us start with the budget."), spoken(640, "The deadline is Friday.")},
        {live(610, "budget")}, {screen(602, "[screen.jpg] Q3 Budget Review")}, 10000, 0);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].label, "時間帯 00:10:02 - 00:10:40");
    EXPECT_EQ(chunks[0].text, "【Conversation Record】\n[00:10:02] Let us start with the budget.\n[00:10:40] "
                              "The deadline is Friday."
                              "\n\n【Live Transcript】\n[00:10:10] budget"
                              "\n\n【画面OCR】\n[00:10:02] [screen.jpg] Q3 Budget Review");
}

TEST(TimeAlignedChunkingTest, OverflowClosesTheStretchAndCarriesItsLastTenth) {
    // The transcript from 0 to 600 s and two screen entries exactly fill the first stretch.
    std::vector<TimestampedEntry> transcript;
    for (int t = 0; t <= 600; t += 60)
        transcript.push_back(spoken(static_cast<float>(t), "transcript words " + std::to_string(t + 1000)));
    const std::vector<TimestampedEntry> screenEntries = {screen(530, "[a.jpg] before overlap"),
                                                         screen(545, "[b.jpg] in overlap")};
    const std::string firstStretch = buildChunkText(
        {{conversationRecordLabel(), transcript}, {std::string(kScreenOCRSource), screenEntries}});
    std::vector<TimestampedEntry> all = transcript;
    all.push_back(spoken(700, "the entry that does not fit"));
    const auto chunks = buildTimeAlignedSourceChunks(all, {}, screenEntries,
                                                     static_cast<std::int64_t>(firstStretch.size()), 0);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].label, "時間帯 00:00:00 - 00:10:00");
    EXPECT_EQ(chunks[0].text, firstStretch);
    // The overlap starts at 540 s: the screen entry at 545 s opens the next stretch with the
    // entry that did not fit, while the transcript's own overlap (600 s) is dropped.
    EXPECT_EQ(chunks[1].label, "時間帯 00:11:40");
    EXPECT_EQ(chunks[1].text, "【Conversation Record】\n[00:11:40] the entry that does not fit\n\n"
                              "【画面OCR】\n[00:09:05] [b.jpg] in overlap");
}

TEST(TimeAlignedChunkingTest, OverlapHelpers) {
    std::vector<SummarySourceChunk> chunks;
    EntryGroups groups = {{conversationRecordLabel(), {spoken(0, "a"), spoken(600, "b")}},
                          {std::string(kScreenOCRSource), {screen(540, "c"), screen(539, "d")}}};
    std::optional<float> start = 0.f;
    float end = 600;
    appendCurrentChunkIfNeeded(chunks, groups, start, end, 0.1f);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(start, 540.f);
    EXPECT_EQ(end, 600.f);
    EXPECT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[std::string(kScreenOCRSource)].size(), 1u);

    // A stretch of zero length carries nothing over.
    EntryGroups same = {{conversationRecordLabel(), {spoken(5, "a")}}};
    std::optional<float> sameStart = 5.f;
    float sameEnd = 5;
    appendCurrentChunkIfNeeded(chunks, same, sameStart, sameEnd, 0.1f);
    EXPECT_TRUE(same.empty());
    EXPECT_EQ(sameStart, std::nullopt);
    EXPECT_EQ(sameEnd, 0);

    std::optional<float> none;
    appendCurrentChunkIfNeeded(chunks, same, none, sameEnd, 0.1f);
    EXPECT_EQ(chunks.size(), 2u);
    EXPECT_TRUE(retainOverlapEntries(groups, 1000).empty());
    EXPECT_EQ(buildChunkText({}), "");
}

TEST(TimeAlignedChunkingTest, AnEntryLargerThanTheLimitIsAChunkOfItsOwn) {
    const std::string big(500, 'x');
    const auto chunks = buildTimeAlignedSourceChunks({spoken(1, "small"), spoken(2, big), spoken(3, "after")},
                                                     {}, {}, 100, 0);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].label, "時間帯 00:00:01");
    EXPECT_NE(chunks[1].text.find(big), std::string::npos);
    EXPECT_GT(chunks[1].text.size(), 100u);
    EXPECT_EQ(chunks[2].text, "【Conversation Record】\n[00:00:03] after");
}

} // namespace
} // namespace velnote
