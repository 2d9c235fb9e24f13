#include "engine/speech/transcription/DecodingResult.h"

#include <cmath>
#include <gtest/gtest.h>
#include <stdexcept>

namespace vocalith {
namespace {

std::string verdict(const std::optional<DecodingFallback>& fallback) {
    if (!fallback)
        return "none";
    return (fallback->needsFallback ? "retry:" : "stop:") + fallback->fallbackReason;
}

TEST(DecodingFallbackTest, FirstApplicableTestDecides) {
    const DecodingOptions defaults;
    const DecodingOptions negativeSilence(DecodingOptions::Arguments{.noSpeechThreshold = -0.5f});
    const DecodingOptions noLogProb(DecodingOptions::Arguments{.logProbThreshold = std::nullopt});
    struct Case {
        const DecodingOptions& options;
        bool firstTokenTooLow;
        float noSpeech;
        float compression;
        float avgLogProb;
        std::string expected;
    };
    const float nan = std::nanf("");
    const Case cases[] = {
        {defaults, true, 0.9f, 9, -9, "retry:firstTokenLogProbThreshold"},
        {defaults, false, 0.9f, 9, -9, "stop:silence"},
        {negativeSilence, false, 0, 9, -9,
         "stop:silence"}, // a decoder reporting 0 meets a negative threshold
        {defaults, false, 0.6f, 2.5f, -9, "retry:compressionRatioThreshold"},
        {defaults, false, 0, 2.4f, -1.01f, "retry:logProbThreshold"},
        {defaults, false, 0, 2.4f, -1.0f, "none"},
        {noLogProb, false, 0, 2.4f, -50, "none"},
        {defaults, false, nan, nan, nan, "none"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(verdict(DecodingFallback::decide(c.options, c.firstTokenTooLow, c.noSpeech, c.compression,
                                                   c.avgLogProb)),
                  c.expected);
    }
}

TEST(DecodingResultTest, EmptyResultsAndOptionalArrays) {
    const auto& empty = DecodingResult::emptyResults();
    EXPECT_TRUE(empty.text.empty() && empty.tokens.empty() && empty.languageProbs.empty());
    EXPECT_FALSE(empty.cache || empty.timings || empty.fallback);

    auto result = std::make_shared<TranscriptionResult>("a", std::vector<TranscriptionSegment>{}, "en",
                                                        TranscriptionTimings{});
    const std::vector<TranscriptionOutcome> outcomes{
        std::make_exception_ptr(std::runtime_error("failed")),
        std::vector<TranscriptionResultPtr>{result, result},
    };
    const auto arrays = toOptionalArrays(outcomes);
    ASSERT_EQ(arrays.size(), 2u);
    EXPECT_FALSE(arrays[0].has_value());
    ASSERT_TRUE(arrays[1].has_value());
    EXPECT_EQ(arrays[1]->size(), 2u);
}

} // namespace
} // namespace vocalith
