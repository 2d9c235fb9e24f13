#include "engine/speech/transcription/WordTiming.h"

#include "engine/speech/transcription/TranscriptionSegment.h"

#include <cmath>
#include <gtest/gtest.h>
#include <unordered_set>

namespace vocalith {
namespace {

WordTiming word(std::string text, float start) {
    return {.word = std::move(text), .tokens = {1, 2}, .start = start, .end = 1.0f, .probability = 0.5f};
}

TEST(WordTimingTest, EqualityAndHashAgree) {
    // −0 and +0, and a precomposed "é" against "e" + combining acute: equal, same hash.
    const std::pair<WordTiming, WordTiming> equalPairs[] = {
        {word(" cafe", -0.0f), word(" cafe", 0.0f)},
        {word(" caf\u00e9", 0.5f), word(" cafe\u0301", 0.5f)},
    };
    for (const auto& [a, b] : equalPairs) {
        EXPECT_EQ(a, b);
        EXPECT_EQ(std::hash<WordTiming>{}(a), std::hash<WordTiming>{}(b));
    }
    const auto nan = word(" x", std::nanf(""));
    EXPECT_FALSE(nan == nan);
    EXPECT_NE(word(" x", 0), word(" X", 0));
    auto moreTokens = word(" x", 0);
    moreTokens.tokens.push_back(3);
    EXPECT_NE(moreTokens, word(" x", 0));

    std::unordered_set<WordTiming> set{word(" a", 0), word(" a", -0.0f), word(" b", 0)};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_FLOAT_EQ(word(" a", 0.25f).duration(), 0.75f);
}

TEST(WordTimingTest, SegmentsCompareAndHashTheSameWay) {
    TranscriptionSegment a{.text = " caf\u00e9", .tokenLogProbs = {{{7, -0.0f}}}};
    TranscriptionSegment b{.text = " cafe\u0301", .tokenLogProbs = {{{7, 0.0f}}}};
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<TranscriptionSegment>{}(a), std::hash<TranscriptionSegment>{}(b));
    b.words = std::vector<WordTiming>{};
    EXPECT_NE(a, b);
}

} // namespace
} // namespace vocalith
