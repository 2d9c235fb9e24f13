#include "engine/speech/transcription/TranscriptionUtilities.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace vocalith {
namespace {

WordTiming word(std::string text, float start = 0) {
    return {.word = std::move(text), .tokens = {1}, .start = start, .end = start + 0.5f, .probability = 1};
}

std::vector<std::string> texts(const std::vector<WordTiming>& words) {
    std::vector<std::string> all;
    for (const auto& w : words)
        all.push_back(w.word);
    return all;
}

TranscriptionSegment segment(std::int64_t id, float start, std::string text) {
    return {.id = id, .seek = 0, .start = start, .end = start + 1, .text = std::move(text), .tokens = {1, 2}};
}

TranscriptionTimings timings(double start, double full, double scale) {
    TranscriptionTimings t;
    for (const auto& [name, member] : TranscriptionTimings::fields())
        t.*member = scale;
    t.pipelineStart = start;
    t.firstTokenTime = start + 0.5;
    t.fullPipeline = full;
    return t;
}

TEST(TranscriptionUtilitiesTest, ShiftMovesSeekTimesAndWords) {
    auto s = segment(3, 2.0f, " hi");
    s.seek = 100;
    s.words = std::vector{word(" hi", 2.0f)};
    const auto shifted = updateSegmentTimings(s, 1.5f);
    EXPECT_EQ(shifted.seek, 100 + 24000);
    EXPECT_EQ(shifted.start, 3.5f);
    EXPECT_EQ(shifted.end, 4.5f);
    EXPECT_EQ(shifted.words->at(0).start, 3.5f);
    EXPECT_EQ(shifted.id, 3);
    EXPECT_EQ(updateSegmentTimings(s, 0), s);
    EXPECT_FALSE(updateSegmentTimings(segment(0, 0, "x"), 1).words.has_value());

    // No wrapped sample count, whatever the shift.
    EXPECT_EQ(updateSegmentTimings(s, std::nanf("")).seek, 100);
    EXPECT_EQ(updateSegmentTimings(s, 1e30f).seek, std::numeric_limits<std::int64_t>::max());
    s.seek = std::numeric_limits<std::int64_t>::min() + 5;
    EXPECT_EQ(updateSegmentTimings(s, -1e30f).seek, std::numeric_limits<std::int64_t>::min());
}

TEST(TranscriptionUtilitiesTest, FormatSegments) {
    const std::vector segments{segment(0, 0, " Hello"), segment(1, 61.256f, "x")};
    EXPECT_EQ(formatSegments(segments, true),
              (std::vector<std::string>{"[0.00 --> 1.00]  Hello", "[61.26 --> 62.26] x"}));
    EXPECT_EQ(formatSegments(segments, false), (std::vector<std::string>{" Hello", "x"}));
    EXPECT_TRUE(formatSegments({}, true).empty());
}

TEST(TranscriptionUtilitiesTest, CommonPrefixNormalisesWordTexts) {
    const std::vector first{word(" Hello,"), word(" well-known"), word("  two   spaces "), word(" CAFÉ!"),
                            word(" end")};
    const std::vector second{word(" hello", 9), word(" well known"), word(" two spaces"),
                             word(" café"),     word(" other"),      word(" more")};
    EXPECT_EQ(texts(findLongestCommonPrefix(first, second)),
              (std::vector<std::string>{" hello", " well known", " two spaces", " café"}));
    EXPECT_EQ(texts(findLongestDifferentSuffix(first, second)),
              (std::vector<std::string>{" other", " more"}));

    EXPECT_TRUE(findLongestCommonPrefix({word(" a")}, {word(" b")}).empty());
    EXPECT_EQ(findLongestDifferentSuffix({}, second).size(), second.size());
    EXPECT_TRUE(findLongestDifferentSuffix(first, {word(" hello")}).empty());
}

TEST(TranscriptionUtilitiesTest, MergeOfNothing) {
    const auto merged = mergeTranscriptionResults({});
    EXPECT_EQ(merged->text(), "");
    EXPECT_TRUE(merged->segments().empty());
    EXPECT_EQ(merged->language(), "en");
    for (const auto& [name, member] : TranscriptionTimings::fields())
        EXPECT_EQ(merged->timings().*member, 0) << name;
    EXPECT_EQ(mergeTranscriptionResults({nullptr, nullptr})->text(), " ");
}

TEST(TranscriptionUtilitiesTest, MergeOfChunkedResults) {
    const auto first = std::make_shared<TranscriptionResult>(
        "one two", std::vector{segment(0, 0, " one"), segment(1, 1, " two")}, "ja", timings(100, 10, 1));
    const auto second = std::make_shared<TranscriptionResult>(
        "three four", std::vector{segment(0, 30, " three"), segment(1, 31, " four")}, "en",
        timings(104, 8, 2), 30.0f);
    const auto merged = mergeTranscriptionResults({first, nullptr, second});
    EXPECT_EQ(merged->text(), "one two  three four");
    std::vector<std::int64_t> ids;
    for (const auto& s : merged->segments())
        ids.push_back(s.id);
    EXPECT_EQ(ids, (std::vector<std::int64_t>{0, 1, 1, 2}));
    EXPECT_EQ(merged->segments()[2].start, 30.0f); // no seek offset applied
    EXPECT_EQ(merged->language(), "ja");
    EXPECT_FALSE(merged->seekTime().has_value());

    const auto t = merged->timings();
    EXPECT_EQ(t.pipelineStart, 100);
    EXPECT_EQ(t.firstTokenTime, 100.5);
    EXPECT_EQ(t.inputAudioSeconds, 3);
    EXPECT_EQ(t.modelLoading, 2); // the largest
    EXPECT_EQ(t.encoderSpecializationTime, 0);
    EXPECT_EQ(t.decodingLoop, 3); // the sum
    EXPECT_EQ(t.totalDecodingWindows, 3);
    EXPECT_EQ(t.fullPipeline, 12); // the overlapping span 100...112, not the sum 18
    EXPECT_EQ(first->text(), "one two");

    const auto confirmed = mergeTranscriptionResults({first, second}, std::vector{word(" Yes"), word(" no")});
    EXPECT_EQ(confirmed->text(), " Yes no");
    EXPECT_EQ(confirmed->segments().size(), 4u);
}

} // namespace
} // namespace vocalith
