#include "processing/transcription/SpeechSegment.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

TEST(SpeechSegmentTest, OptionalKeysAreLeftOutAndNullReadsAsAbsent) {
    const auto plain =
        platform::decode<SpeechSegment>(platform::parseJson(R"({"text":"a","start":1.5,"end":2,"x":1})"));
    EXPECT_EQ(plain, (SpeechSegment{.text = "a", .start = 1.5, .end = 2.0}));
    EXPECT_EQ(platform::Json(plain), platform::parseJson(R"({"text":"a","start":1.5,"end":2.0})"));

    const auto nulls = platform::decode<SpeechSegment>(
        platform::parseJson(R"({"text":"","start":0,"end":0,"words":null,"speaker":null})"));
    EXPECT_FALSE(nulls.words);
    EXPECT_FALSE(nulls.speaker);

    const SpeechSegment full{.text = "hi",
                             .start = 3,
                             .end = 4,
                             .words = std::vector<SpeechWordTiming>{{.word = "hi", .start = 3, .end = 3.5}},
                             .speaker = "MIC SPEAKER_01 00:00:03"};
    EXPECT_EQ(platform::decode<SpeechSegment>(platform::Json(full)), full);
}

TEST(SpeechSegmentTest, MissingOrMistypedRequiredKeysFailTheWholeDecode) {
    const char* bad[] = {
        R"({"start":0,"end":1})",
        R"({"text":"a","end":1})",
        R"({"text":"a","start":"0","end":1})",
        R"({"text":"a","start":0,"end":1,"words":[{"word":"a","start":0}]})",
        R"({"text":"a","start":0,"end":1,"speaker":7})",
    };
    for (const char* text : bad)
        EXPECT_THROW(platform::decode<SpeechSegment>(platform::parseJson(text)), platform::JsonDecodeError)
            << text;
}

} // namespace
} // namespace velnote
