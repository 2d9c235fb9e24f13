#include "engine/diarization/result/SpeakerSegment.h"

#include "support/Refusal.h"
#include "support/Words.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>

namespace diarith {
namespace {

using testing::expectRefused;
using testing::word;

std::vector<SpeakerWordTiming> withSpeaker(const std::vector<vocalith::WordTiming>& words,
                                           SpeakerInfo speaker) {
    std::vector<SpeakerWordTiming> result;
    for (const auto& w : words)
        result.push_back({.wordTiming = w, .speaker = speaker});
    return result;
}

TEST(SpeakerSegmentTest, FramesStayExactAndTimesTruncate) {
    const auto fromFrames = SpeakerSegment::withFrames(SpeakerInfo::speakerId(0), 16, 48, 16.0f);
    EXPECT_FLOAT_EQ(fromFrames.startTime(), 1.0f);
    EXPECT_FLOAT_EQ(fromFrames.endTime(), 3.0f);
    EXPECT_EQ(fromFrames.startFrame(), 16);
    EXPECT_EQ(fromFrames.endFrame(), 48);
    // 10 / 3 × 3 is 9.99… in floats: the stored frame is reported, not the product.
    const auto thirds = SpeakerSegment::withFrames(SpeakerInfo::speakerId(0), 10, 20, 3.0f);
    EXPECT_EQ(thirds.startFrame(), 10);

    const auto fromTimes = SpeakerSegment::withTimes(SpeakerInfo::speakerId(1), 1.0f, 2.99f, 10.0f);
    EXPECT_EQ(fromTimes.startFrame(), 10);
    EXPECT_EQ(fromTimes.endFrame(), 29);
    EXPECT_NE(SpeakerSegment::withFrames(SpeakerInfo::noMatch(), 1, 2, 1.0f).id(),
              SpeakerSegment::withFrames(SpeakerInfo::noMatch(), 1, 2, 1.0f).id());
}

TEST(SpeakerSegmentTest, FramesWithoutAFiniteProductAreRefused) {
    const float inf = std::numeric_limits<float>::infinity();
    expectRefused([&] { SpeakerSegment::withTimes(SpeakerInfo::noMatch(), inf, 1.0f, 10.0f).startFrame(); },
                  "SpeakerSegment: startTime");
    expectRefused([] { SpeakerSegment::withTimes(SpeakerInfo::noMatch(), 0.0f, 1e30f, 1e10f).endFrame(); },
                  "SpeakerSegment: endTime");
    expectRefused([] { SpeakerSegment::withTimes(SpeakerInfo::noMatch(), -1e30f, 0.0f, 1e10f).startFrame(); },
                  "SpeakerSegment: startTime");
}

TEST(SpeakerSegmentTest, FromTranscription) {
    const auto words =
        withSpeaker({word(" hello", 1.5f, 2.0f), word(" world", 2.5f, 3.25f)}, SpeakerInfo::speakerId(2));
    const SpeakerSegment spoken(testing::segment(4, {}), words, 16.0f);
    EXPECT_EQ(spoken.speaker(), SpeakerInfo::speakerId(2));
    EXPECT_EQ(spoken.description(), "Speaker 2 [1.50-3.25s]: hello world");
    EXPECT_EQ(spoken.text(), " hello world");
    EXPECT_THAT(
        spoken.debugDescription(),
        ::testing::MatchesRegex("Segment [0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12} -- "
                                "Speaker 2 \\[1\\.50-3\\.25s\\]: hello world"));

    const SpeakerSegment silent(testing::segment(5, {}), {}, 16.0f);
    EXPECT_EQ(silent.speaker(), SpeakerInfo::noMatch());
    EXPECT_EQ(silent.startTime(), 0.0f);
    EXPECT_EQ(silent.endTime(), 0.0f);
    EXPECT_EQ(silent.description(), "No Speaker Matched [0.00-0.00s]: ");

    auto mixed = withSpeaker({word("a", 0, 1)}, SpeakerInfo::multiple({0, 1}));
    mixed.push_back({.wordTiming = word("b", 1, 2), .speaker = SpeakerInfo::speakerId(1)});
    EXPECT_EQ(SpeakerSegment(testing::segment(6, {}), mixed, 16.0f).speaker(), SpeakerInfo::noMatch());

    // Out of time order: the extremes for the times, first and last word for the text form.
    const auto unordered =
        withSpeaker({word("\t50% ", 4.0f, 5.0f), word("%d\u3000", 1.0f, 2.0f)}, SpeakerInfo::speakerId(0));
    const SpeakerSegment shuffled(testing::segment(7, {}), unordered, 16.0f);
    EXPECT_EQ(shuffled.startTime(), 1.0f);
    EXPECT_EQ(shuffled.endTime(), 5.0f);
    EXPECT_EQ(shuffled.description(), "Speaker 0 [4.00-2.00s]: 50% %d");
    ASSERT_TRUE(shuffled.transcription());
    EXPECT_EQ(shuffled.transcription()->id, 7);
}

TEST(SpeakerWordTimingTest, JsonRoundTrip) {
    const SpeakerWordTiming word{.wordTiming = testing::word(" hi", 0.5f, 0.75f),
                                 .speaker = SpeakerInfo::speakerId(1)};
    const auto json = velnote::platform::Json(word);
    EXPECT_EQ(json["speaker"], velnote::platform::parseJson(R"({"speakerId":{"_0":1}})"));
    EXPECT_EQ(json["wordTiming"]["word"], " hi");
    EXPECT_EQ(velnote::platform::decode<SpeakerWordTiming>(json), word);
    EXPECT_THROW(velnote::platform::decode<SpeakerWordTiming>(
                     velnote::platform::parseJson(R"({"speaker":{"noMatch":{}}})")),
                 velnote::platform::JsonDecodeError);
}

} // namespace
} // namespace diarith
