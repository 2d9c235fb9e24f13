#include "engine/diarization/result/DiarizationResult.h"

#include "engine/diarization/Diarizer.h"
#include "engine/foundation/support/LogLines.h"
#include "support/Refusal.h"
#include "support/Words.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <tuple>

namespace diarith {
namespace {

using basalith::testing::LogLines;
using ::testing::ElementsAre;
using testing::expectRefused;
using testing::result;
using testing::segment;
using testing::word;
using Turn = std::tuple<std::int64_t, std::int64_t, std::int64_t>; // speaker, start frame, end frame

std::vector<Turn> turns(const DiarizationResult& diarization) {
    std::vector<Turn> all;
    for (const auto& s : diarization.segments())
        all.emplace_back(s.speaker().speakerId().value_or(-1), s.startFrame(), s.endFrame());
    return all;
}

TEST(DiarizationResultTest, TurnsFromTheMatrix) {
    DiarizationResult diarization({{1, 1, 0, 0, 1, 1}}, 8.0f);
    EXPECT_EQ(diarization.speakerCount(), 1);
    EXPECT_EQ(diarization.totalFrames(), 6);
    EXPECT_THAT(turns(diarization), ElementsAre(Turn{0, 0, 2}, Turn{0, 4, 6}));
    EXPECT_FLOAT_EQ(diarization.segments()[1].startTime(), 0.5f);
    EXPECT_FLOAT_EQ(diarization.segments()[1].endTime(), 0.75f);
    EXPECT_FALSE(diarization.timings());

    diarization.updateSegments(0.25f); // maxGap 2
    EXPECT_THAT(turns(diarization), ElementsAre(Turn{0, 0, 6}));
    EXPECT_FLOAT_EQ(diarization.segments()[0].endTime(), 0.75f);
    diarization.updateSegments(0.125f); // maxGap 1
    EXPECT_THAT(turns(diarization), ElementsAre(Turn{0, 0, 2}, Turn{0, 4, 6}));

    // Rows scanned one speaker at a time, then sorted by start; 2 and −1 are inactive.
    const DiarizationResult mixed({{0, 1, 1, 2, 1}, {1, 1, 1, 1, 1}, {-1, 0, 0, 1, 0}}, 1.0f);
    EXPECT_THAT(turns(mixed), ElementsAre(Turn{1, 0, 5}, Turn{0, 1, 3}, Turn{2, 3, 4}, Turn{0, 4, 5}));
    const DiarizationResult together({{1, 1, 0}, {1, 0, 0}}, 1.0f);
    EXPECT_THAT(turns(together), ElementsAre(Turn{0, 0, 2}, Turn{1, 0, 1}));
}

TEST(DiarizationResultTest, AGapOfMaxGapFramesJoinsAndOneMoreDoesNot) {
    // Speaker 0 pauses 3 frames, then 4 frames; speaker 1 talks in between.
    DiarizationResult diarization({{1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1}, {0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0}},
                                  2.0f);
    diarization.updateSegments(1.5f); // maxGap 3
    EXPECT_THAT(turns(diarization), ElementsAre(Turn{0, 0, 6}, Turn{1, 2, 5}, Turn{0, 10, 11}));
    diarization.updateSegments(2.0f); // maxGap 4
    EXPECT_THAT(turns(diarization), ElementsAre(Turn{0, 0, 11}, Turn{1, 2, 5}));
    diarization.updateSegments(1.0f); // maxGap 2
    EXPECT_THAT(turns(diarization),
                ElementsAre(Turn{0, 0, 2}, Turn{1, 2, 5}, Turn{0, 5, 6}, Turn{0, 10, 11}));
}

TEST(DiarizationResultTest, LogsAndKeepsReadyMadeTurnsWithoutAMatrix) {
    LogLines log;
    DiarizationResult diarization({{1, 0}}, 8.0f);
    diarization.updateSegments(0.25f);
    DiarizationResult assembled(2, 100, 16.0f,
                                {SpeakerSegment::withFrames(SpeakerInfo::speakerId(1), 3, 9, 16.0f)},
                                std::make_shared<PyannoteDiarizationTimings>());
    assembled.updateSegments(1.0f);
    EXPECT_THAT(turns(assembled), ElementsAre(Turn{1, 3, 9}));
    EXPECT_TRUE(assembled.binaryMatrix().empty());
    EXPECT_TRUE(assembled.timings());
    EXPECT_THAT(log.lines(), ElementsAre("[Diarith] updateSegments with min 0.0 offset",
                                         "[Diarith] updateSegments with min 0.25 offset",
                                         "[Diarith] updateSegments skipped (no binary matrix)"));
}

TEST(DiarizationResultTest, OffsetsWithoutAFiniteFrameGapAreRefused) {
    DiarizationResult diarization({{1, 0, 1}}, 8.0f);
    for (float offset :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f}) {
        expectRefused([&] { diarization.updateSegments(offset); }, "updateSegments: minActiveOffset");
    }
    EXPECT_THAT(turns(diarization), ElementsAre(Turn{0, 0, 1}, Turn{0, 2, 3})); // unchanged
    expectRefused(
        [] {
            DiarizationResult({{1, 1}}, std::numeric_limits<float>::infinity());
        },
        "minActiveOffset × frameRate");
}

// Speaker 0 over frames [8, 13), speaker 1 over [12, 30), at 16 frames per second.
DiarizationResult twoOverlappingTurns() {
    return DiarizationResult(2, 30, 16.0f,
                             {SpeakerSegment::withFrames(SpeakerInfo::speakerId(0), 8, 13, 16.0f),
                              SpeakerSegment::withFrames(SpeakerInfo::speakerId(1), 12, 30, 16.0f)},
                             nullptr);
}

std::vector<SpeakerInfo> speakersOf(const std::vector<SpeakerSegment>& segments) {
    std::vector<SpeakerInfo> speakers;
    for (const auto& s : segments)
        speakers.push_back(s.speaker());
    return speakers;
}

TEST(SpeakerInfoForWordsTest, SegmentsMatchByIntersectionOverUnionSubsegmentsByOverlap) {
    // The span [10, 16): scores 3/8 and 4/20 by intersection over union, 3 and 4 by overlap.
    const auto transcription = {
        result({segment(0, {word(" so", 10.0f / 16, 0.8f), word(" yes", 0.8f, 1.0f)})})};
    const auto diarization = twoOverlappingTurns();
    const auto bySegment = diarization.addSpeakerInfo(transcription, SpeakerInfoStrategy::segment());
    ASSERT_EQ(bySegment.size(), 1u);
    EXPECT_THAT(speakersOf(bySegment[0]), ElementsAre(SpeakerInfo::speakerId(0)));
    for (const auto& w : bySegment[0][0].speakerWords())
        EXPECT_EQ(w.speaker, SpeakerInfo::speakerId(0));
    const auto bySubsegment = diarization.addSpeakerInfo(transcription, SpeakerInfoStrategy::subsegment());
    EXPECT_THAT(speakersOf(bySubsegment[0]), ElementsAre(SpeakerInfo::speakerId(1)));
}

TEST(SpeakerInfoForWordsTest, PausesInheritThePreviousSpeaker) {
    // Turns at [8, 13) and [12, 30); segments before, inside, in the pause after, and inside again.
    const DiarizationResult diarization(
        2, 80, 16.0f,
        {SpeakerSegment::withFrames(SpeakerInfo::speakerId(0), 8, 13, 16.0f),
         SpeakerSegment::withFrames(SpeakerInfo::speakerId(1), 12, 30, 16.0f),
         SpeakerSegment::withFrames(SpeakerInfo::speakerId(0), 60, 80, 16.0f)},
        nullptr);
    const auto lists = diarization.addSpeakerInfo(
        {result({segment(0, {word("a", 0.0f, 0.25f)}), segment(1, {word("b", 1.0f, 1.5f)}),
                 segment(2, {word("c", 2.5f, 3.0f)}), segment(3, {word("d", 4.0f, 4.5f)})})},
        SpeakerInfoStrategy::segment());
    EXPECT_THAT(speakersOf(lists[0]), ElementsAre(SpeakerInfo::noMatch(), SpeakerInfo::speakerId(1),
                                                  SpeakerInfo::speakerId(1), SpeakerInfo::speakerId(0)));
}

TEST(SpeakerInfoForWordsTest, WordsGroupAtPausesLongerThanTheThreshold) {
    const auto diarization = twoOverlappingTurns();
    const auto lists = diarization.addSpeakerInfo(
        {result({segment(0, {word(" a", 0.0f, 0.4f), word(" b", 0.5f, 0.9f), word(" c", 1.2f, 1.5f)}),
                 segment(1, {word(" d", 2.0f, 2.5f), word(" e", 2.75f, 3.0f)}),
                 segment(2, {word(" f", 4, 5)})})},
        SpeakerInfoStrategy::subsegment(0.25f));
    ASSERT_EQ(lists[0].size(), 4u);
    const auto& first = lists[0][0];
    EXPECT_EQ(first.speakerWords().size(), 2u);
    EXPECT_FLOAT_EQ(first.startTime(), 0.0f);
    EXPECT_FLOAT_EQ(first.endTime(), 0.9f);
    ASSERT_TRUE(first.transcription());
    EXPECT_EQ(first.transcription()->text, " a b");
    EXPECT_EQ(first.transcription()->tokenLogProbs.size(), 1u);
    EXPECT_EQ(first.transcription()->temperature, 1.0f);
    EXPECT_EQ(lists[0][1].text(), " c");
    EXPECT_EQ(lists[0][2].text(), " d e"); // a pause equal to the threshold keeps the words together
    EXPECT_EQ(lists[0][3].text(), " f");   // one word: its own start and end
    EXPECT_FLOAT_EQ(lists[0][3].startTime(), 4.0f);
}

TEST(SpeakerInfoForWordsTest, SegmentsWithoutWordsAreSkippedWithAMessage) {
    LogLines log(basalith::Logging::LogLevel::info);
    const auto diarization = twoOverlappingTurns();
    for (const auto& strategy : {SpeakerInfoStrategy::segment(), SpeakerInfoStrategy::subsegment()}) {
        const auto lists = diarization.addSpeakerInfo(
            {result({segment(3, {word("x", 0, 1)}, false), segment(4, {})}), nullptr}, strategy);
        ASSERT_EQ(lists.size(), 2u);
        EXPECT_TRUE(lists[0].empty());
        EXPECT_TRUE(lists[1].empty());
    }
    const std::string message =
        "[Diarith] No words for segment: 3. Enable `wordTimestamps` on DecodingOptions.";
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), message), 2);
    EXPECT_EQ(lines.size(), 4u);
}

TEST(SpeakerInfoForWordsTest, SegmentTimesWithoutAFiniteFrameAreRefused) {
    const auto diarization = twoOverlappingTurns();
    const float inf = std::numeric_limits<float>::infinity();
    expectRefused(
        [&] {
            diarization.addSpeakerInfo({result({segment(0, {word("x", 0, inf)})})},
                                       SpeakerInfoStrategy::segment());
        },
        "findSpeakerForSegment: segment end");
}

} // namespace
} // namespace diarith
