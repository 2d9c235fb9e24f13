// Segment cutting at timestamp pairs and the word-timing rules of the engine's seeker, on token
// sequences of the test vocabulary.

#include "engine/speech/transcription/SegmentSeeker.h"

#include "engine/speech/Constants.h"
#include "engine/speech/WhisperError.h"
#include "support/TestTokenizer.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;
using testing::TestVocabulary;
using V = TestVocabulary;

constexpr std::int64_t kWindow = 480000;

std::int64_t t(double seconds) {
    return V::timestamp(seconds);
}

class SegmentSeekerTest : public ::testing::Test {
  protected:
    SeekPointAndSegments seek(const std::vector<std::int64_t>& tokens, std::int64_t currentSeek = 0,
                              const DecodingOptions& options = {}, float noSpeechProb = 0,
                              float avgLogProb = 0) {
        DecodingResult result;
        result.tokens = tokens;
        for (const auto token : tokens)
            result.tokenLogProbs.push_back({{token, -0.5f}});
        result.noSpeechProb = noSpeechProb;
        result.avgLogProb = avgLogProb;
        result.temperature = 0.2f;
        return seeker_.findSeekPointAndSegments(result, options, 3, currentSeek, kWindow, 16000, V::timeBegin,
                                                V::endOfText, *tokenizer_);
    }

    static std::vector<std::pair<float, float>> times(const std::vector<TranscriptionSegment>& segments) {
        std::vector<std::pair<float, float>> spans;
        for (const auto& segment : segments)
            spans.emplace_back(segment.start, segment.end);
        return spans;
    }

    static std::vector<std::string> texts(const std::vector<WordTiming>& words) {
        std::vector<std::string> result;
        for (const auto& word : words)
            result.push_back(word.word);
        return result;
    }

    SegmentSeeker seeker_;
    std::shared_ptr<WhisperTokenizer> tokenizer_ = testing::makeTestTokenizer();
};

TEST_F(SegmentSeekerTest, SegmentsAndSeekPoint) {
    using Spans = std::vector<std::pair<float, float>>;
    struct Case {
        std::string name;
        std::vector<std::int64_t> tokens;
        std::int64_t currentSeek;
        Spans spans;
        std::int64_t seek;
    };
    const Case cases[] = {
        {"single timestamp ending, no pair: one segment to that time",
         {'a', 'b', t(6), V::endOfText},
         0,
         {{0, 6}},
         kWindow},
        {"no timestamp at all: the whole window",
         {'a', 'b', V::endOfText},
         16000,
         {{1, 31}},
         16000 + kWindow},
        {"pairs, closed by a single timestamp",
         {t(0), 'a', 'b', t(2), t(2), 'c', 'd', t(4), V::endOfText},
         0,
         {{0, 2}, {2, 4}},
         64000},
        {"the same later in the recording",
         {t(0), 'a', 'b', t(2), t(2), 'c', 'd', t(4), V::endOfText},
         32000,
         {{2, 4}, {4, 6}},
         32000 + 64000},
        {"trailing text without a timestamp: its own slice, the whole window",
         {t(0), 'a', 'b', t(2), t(2), 'c', 'd', 'e'},
         0,
         {{0, 2}, {2, 2}},
         kWindow},
        {"ending on a pair: seek at the pair",
         {t(0), 'a', t(1.5), t(1.5), 'b', t(3), t(3)},
         0,
         {{0, 1.5f}, {1.5f, 3}},
         48000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto found = seek(c.tokens, c.currentSeek);
        ASSERT_TRUE(found.segments);
        EXPECT_EQ(times(*found.segments), c.spans);
        EXPECT_EQ(found.seek, c.seek);
    }

    // Ids run on from the segments already found; tokens and scores travel with each slice.
    const auto found = seek({t(0), 'a', 'b', t(2), t(2), 'c', 'd', t(4), V::endOfText});
    const auto& second = found.segments->at(1);
    EXPECT_EQ(second.id, 4);
    EXPECT_EQ(second.tokens, (std::vector<std::int64_t>{t(2), 'c', 'd', t(4)}));
    EXPECT_EQ(second.tokenLogProbs.size(), 4u);
    EXPECT_EQ(second.temperature, 0.2f);
    EXPECT_EQ(second.text, "<|2.00|>cd<|4.00|>");
    DecodingOptions skip;
    skip.skipSpecialTokens = true;
    EXPECT_EQ(seek({t(0), 'a', 'b', t(2), t(2), 'c', 'd', t(4), V::endOfText}, 0, skip).segments->at(1).text,
              "cd");
}

TEST_F(SegmentSeekerTest, SilenceNeedsTheNoSpeechAndTheLogProbabilityTests) {
    const std::vector<std::int64_t> tokens{t(0), 'a', t(1), V::endOfText};
    // No speech is likely, but the text is sure enough: kept.
    EXPECT_TRUE(seek(tokens, 0, {}, 0.7f, -0.5f).segments);
    const auto silent = seek(tokens, 0, {}, 0.7f, -1.5f);
    EXPECT_FALSE(silent.segments);
    EXPECT_EQ(silent.seek, kWindow);
    DecodingOptions noThreshold;
    noThreshold.noSpeechThreshold.reset();
    EXPECT_TRUE(seek(tokens, 0, noThreshold, 0.99f, -5).segments);
}

TEST_F(SegmentSeekerTest, ShortLogProbabilityListsAreNotReadPast) {
    DecodingResult result;
    result.tokens = {t(0), 'a', t(1), t(1), 'b', t(2), V::endOfText};
    result.tokenLogProbs = {{{t(0), -0.1f}}};
    const auto found = seeker_.findSeekPointAndSegments(result, {}, 0, 0, kWindow, 16000, V::timeBegin,
                                                        V::endOfText, *tokenizer_);
    ASSERT_EQ(found.segments->size(), 2u);
    EXPECT_EQ(found.segments->at(1).tokenLogProbs.size(), 3u);
}

TEST_F(SegmentSeekerTest, WordDurationLimits) {
    const auto words = [](std::vector<float> durations) {
        std::vector<WordTiming> timed;
        for (const float duration : durations)
            timed.push_back({.word = "w", .start = 1, .end = 1 + duration});
        return timed;
    };
    struct Case {
        std::vector<float> durations;
        float median;
    };
    const Case cases[] = {
        {{0.1f, 0.3f, 0.5f, 0}, 0.3f}, {{0.9f}, 0.7f}, {{0.2f, 0.4f}, 0.4f}, {{}, 0}, {{0, -1}, 0}};
    for (const auto& c : cases) {
        const auto [median, maxDuration] = seeker_.calculateWordDurationConstraints(words(c.durations));
        EXPECT_NEAR(median, c.median, 1e-6f);
        EXPECT_NEAR(maxDuration, 2 * c.median, 1e-6f);
    }

    std::vector<WordTiming> sentence{{.word = " long", .start = 0, .end = 2},
                                     {.word = ".", .start = 2, .end = 4},
                                     {.word = " Next", .start = 4, .end = 6},
                                     {.word = " short", .start = 6, .end = 6.5f}};
    const auto cut = seeker_.truncateLongWordsAtSentenceBoundaries(sentence, 0.6f);
    EXPECT_EQ(cut[0].end, 2);      // the first word is never touched
    EXPECT_EQ(cut[1].end, 2.6f);   // a long full stop ends early
    EXPECT_EQ(cut[2].start, 5.4f); // the word after it starts late
    EXPECT_EQ(cut[3].start, 6);    // short words stay
}

TEST_F(SegmentSeekerTest, PunctuationJoinsItsWord) {
    const auto word = [](std::string text, float start) {
        return WordTiming{.word = std::move(text),
                          .tokens = {static_cast<std::int64_t>(start)},
                          .start = start,
                          .end = start + 1,
                          .probability = start / 10};
    };
    const auto prepend = Constants::defaultPrependPunctuations;
    const auto append = Constants::defaultAppendPunctuations;
    struct Case {
        std::string name;
        std::vector<WordTiming> words;
        std::vector<std::string> merged;
        float firstStart;
    };
    const Case cases[] = {
        {"opening bracket joins the next word", {word(" (", 1), word("Hello", 2)}, {" (Hello"}, 2},
        {"comma joins the word before", {word("Hello", 1), word(",", 2)}, {"Hello,"}, 1},
        {"a word ending in a space keeps it apart; the lone comma goes",
         {word("Hello ", 1), word(",", 2)},
         {"Hello "},
         1},
        {"full stop and closing quote both",
         {word("Hello", 1), word(".", 2), word("\u201d", 3)},
         {"Hello.\u201d"},
         1},
        {"an opening mark without a space before is dropped", {word("(", 1), word(" x", 2)}, {" x"}, 2},
        {"a lone opening mark", {word(" \"", 1)}, {}, 0},
        {"inside a sentence",
         {word(" I", 1), word(" said", 2), word(" \"", 3), word("go", 4), word("\"", 5)},
         {" I", " said", " \"go\""},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto merged = seeker_.mergePunctuations(c.words, prepend, append);
        EXPECT_EQ(texts(merged), c.merged);
        if (!merged.empty()) {
            EXPECT_EQ(merged.front().start, c.firstStart);
        }
    }
    const auto joined =
        seeker_.mergePunctuations({word(" (", 1), word("Hello", 2), word(")", 3)}, prepend, append);
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(joined[0].tokens, (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(joined[0].probability, 0.2f);
    EXPECT_TRUE(seeker_.mergePunctuations({}, prepend, append).empty());
}

TEST_F(SegmentSeekerTest, TimeWarpingFollowsTheHeaviestPath) {
    // Token 0 sits on frames 0-1, token 1 on frame 2, token 2 on frames 3-4; every other cell costs.
    MultiArray weights({3, 5}, MultiArrayDataType::float16);
    const float rows[3][5] = {{1, 1, -1, -1, -1}, {-1, -1, 1, -1, -1}, {-1, -1, -1, 1, 1}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 5; ++j)
            weights.dataAs<Float16>()[i * 5 + j] = static_cast<Float16>(rows[i][j]);
    const auto path = seeker_.dynamicTimeWarping(weights);
    EXPECT_EQ(path.textIndices, (std::vector<std::int64_t>{0, 0, 1, 2, 2}));
    EXPECT_EQ(path.timeIndices, (std::vector<std::int64_t>{0, 1, 2, 3, 4}));

    // Ties go to the later move: diagonal and up equal gives left.
    EXPECT_EQ(seeker_.minCostAndTrace(1, 1, 2, 0).second, 2);
    EXPECT_EQ(seeker_.minCostAndTrace(0, 1, 2, 0).second, 0);
    EXPECT_EQ(seeker_.minCostAndTrace(2, 1, 2, 0).second, 1);

    try {
        seeker_.dynamicTimeWarping(MultiArray({1, 3, 5}, MultiArrayDataType::float16));
        FAIL() << "no error";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.errorCase(), WhisperError::Case::segmentingFailed);
        EXPECT_EQ(error.message(), "Invalid alignment matrix shape");
    }
}

TEST_F(SegmentSeekerTest, WordsAreTimedFromTheAlignmentWeights) {
    // A window of two segments: "<|0.00|> Hello world.<|1.20|>" and one of time tokens only.
    const auto hello = tokenizer_->encode(" Hello");
    const auto world = tokenizer_->encode(" world");
    const auto stop = tokenizer_->encode(".");
    // Frames each token is heard on, in order: t0, Hello, world, ".", t1.2 | t1.2, t1.5.
    std::vector<std::pair<std::vector<std::int64_t>, std::pair<int, int>>> parts = {
        {{t(0)}, {0, 1}},     {hello, {1, 21}},     {world, {21, 51}},   {stop, {51, 56}},
        {{t(1.2)}, {56, 60}}, {{t(1.2)}, {60, 62}}, {{t(1.5)}, {62, 75}}};
    std::vector<std::int64_t> rowFrom;
    std::vector<std::int64_t> rowTo;
    TranscriptionSegment first{.id = 0, .seek = 16000, .start = 1, .end = 2.2f};
    TranscriptionSegment second{.id = 1, .seek = 16000, .start = 2.2f, .end = 2.5f};
    for (std::size_t p = 0; p < parts.size(); ++p) {
        auto& segment = p < 5 ? first : second;
        const auto& [tokens, frames] = parts[p];
        // A word of several tokens shares its frames out among them.
        const int share = (frames.second - frames.first) / static_cast<int>(tokens.size());
        for (std::size_t k = 0; k < tokens.size(); ++k) {
            segment.tokens.push_back(tokens[k]);
            segment.tokenLogProbs.push_back({{tokens[k], -0.1f}});
            rowFrom.push_back(frames.first + share * static_cast<int>(k));
            rowTo.push_back(k + 1 == tokens.size() ? frames.second
                                                   : frames.first + share * static_cast<int>(k + 1));
        }
    }
    const auto rows = static_cast<std::int64_t>(rowFrom.size());
    // Two rows more than the window's tokens, as the decoder's cache has.
    MultiArray weights({rows + 2, 75}, MultiArrayDataType::float16);
    for (std::int64_t r = 0; r < rows + 2; ++r)
        for (std::int64_t f = 0; f < 75; ++f)
            weights.dataAs<Float16>()[r * 75 + f] =
                static_cast<Float16>(r < rows && f >= rowFrom[r] && f < rowTo[r] ? 1.0f : -1.0f);

    const auto timed = seeker_.addWordTimestamps({first, second}, weights, *tokenizer_, 16000, 480000,
                                                 Constants::defaultPrependPunctuations,
                                                 Constants::defaultAppendPunctuations, 1.3f, {}, {});
    ASSERT_TRUE(timed && timed->size() == 2);
    const auto& words = *timed->at(0).words;
    ASSERT_EQ(texts(words), (std::vector<std::string>{" Hello", " world."}));
    EXPECT_FLOAT_EQ(words[0].start, 1.02f);
    EXPECT_FLOAT_EQ(words[0].end, 1.42f);
    EXPECT_FLOAT_EQ(words[1].start, 1.42f);
    EXPECT_FLOAT_EQ(words[1].end, 2.02f);
    EXPECT_FLOAT_EQ(words[1].probability, 0.9f);
    EXPECT_EQ(words[0].tokens, hello);
    // The segment takes the edges of its words; one of time tokens only gets no words and keeps
    // its times.
    EXPECT_FLOAT_EQ(timed->at(0).start, 1.02f);
    EXPECT_FLOAT_EQ(timed->at(0).end, 2.02f);
    EXPECT_TRUE(timed->at(1).words && timed->at(1).words->empty());
    EXPECT_FLOAT_EQ(timed->at(1).start, 2.2f);

    // Weights with fewer rows than tokens, or of the wrong shape, are refused.
    const auto failure = [&](const MultiArray& bad) {
        try {
            seeker_.addWordTimestamps({first}, bad, *tokenizer_, 0, 480000, "", "", 0, {}, {});
        } catch (const WhisperError& error) {
            return error.errorCase() == WhisperError::Case::segmentingFailed;
        }
        return false;
    };
    EXPECT_TRUE(failure(MultiArray({2, 75}, MultiArrayDataType::float16)));
    EXPECT_TRUE(failure(MultiArray({1, 2, 75}, MultiArrayDataType::float16)));
    // Nothing to align: every segment gets an empty word list.
    const auto none = seeker_.addWordTimestamps({TranscriptionSegment{}}, weights, *tokenizer_, 0, 480000, "",
                                                "", 0, {}, {});
    ASSERT_TRUE(none && none->at(0).words);
    EXPECT_TRUE(none->at(0).words->empty());
}

TEST_F(SegmentSeekerTest, ShortWordsAndPausesMoveTheEdges) {
    const auto word = [&](const char* text, float start, float end) {
        return WordTiming{.word = text,
                          .tokens = tokenizer_->encode(text),
                          .start = start,
                          .end = end,
                          .probability = 0.5f};
    };
    TranscriptionSegment segment{.start = 0, .end = 9};
    for (const char* text : {" a", " b", " c"})
        for (const auto token : tokenizer_->encode(text))
            segment.tokens.push_back(token);
    // median 0.4, max 0.8: " b" is very short and moves back towards " a"; the first word ends
    // long after the last speech and is long, so it is cut to the maximum before its end.
    const auto updated = seeker_.updateSegmentsWithWordTimings(
        {segment}, {word(" a", 2, 4), word(" b", 4.5f, 4.55f), word(" c", 4.6f, 5)}, 0, 0, 0.4f, 0.8f,
        *tokenizer_);
    const auto& words = *updated[0].words;
    ASSERT_EQ(words.size(), 3u);
    EXPECT_FLOAT_EQ(words[0].start, 3.2f);
    EXPECT_FLOAT_EQ(words[1].start, 4.3f);
    EXPECT_FLOAT_EQ(updated[0].start, 3.2f);
    // The segment ends far beyond its last word: the segment end moves in.
    EXPECT_FLOAT_EQ(updated[0].end, 5);
}

} // namespace
} // namespace vocalith
