#include "engine/diarization/rttm/RTTMLine.h"

#include "support/Words.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace diarith {
namespace {

using ::testing::ElementsAre;
using testing::result;
using testing::segment;
using testing::word;

std::vector<std::string> texts(const std::vector<RTTMLine>& lines) {
    std::vector<std::string> all;
    for (const auto& line : lines)
        all.push_back(line.description());
    return all;
}

TEST(RTTMLineTest, RecordTextAndSpeakerNames) {
    EXPECT_EQ(RTTMLine("meeting", 0, 1.0f, 1.5f, "<NA>").description(),
              "SPEAKER meeting 1 1.000 1.500 <NA> <NA> A <NA> <NA>");
    struct Case {
        std::int64_t index;
        const char* name;
    };
    for (const auto& c : {Case{0, "A"}, Case{25, "Z"}, Case{26, "A"}, Case{27, "B"}, Case{-1, "UNKNOWN"}})
        EXPECT_EQ(RTTMLine("f", c.index, 0, 0, "").speakerName, c.name) << c.index;
}

TEST(RTTMLineTest, OneRecordPerRunOfOneKnownSpeaker) {
    EXPECT_TRUE(RTTMLine::fromWords({}, "f").empty());
    const std::vector<WordWithSpeaker> words{
        {word(" Good", 0.0f, 0.5f), 0},
        {word(" morning ", 0.5f, 1.0f), 0},
        {word("all", 1.0f, 1.25f), 1},
        {word(" um", 1.5f, 1.75f), std::nullopt},
        {word(" er", 1.75f, 2.0f), std::nullopt},
        {word("\tyes", 2.0f, 2.5f), 1},
    };
    EXPECT_THAT(texts(RTTMLine::fromWords(words, "f")),
                ElementsAre("SPEAKER f 1 0.000 1.000 Good morning <NA> A <NA> <NA>",
                            "SPEAKER f 1 1.000 0.250 all <NA> B <NA> <NA>",
                            "SPEAKER f 1 2.000 0.500 yes <NA> B <NA> <NA>"));
    // Leading words without a speaker give nothing; an empty word leaves an empty entry.
    const std::vector<WordWithSpeaker> gaps{
        {word("uh", 0, 1), std::nullopt}, {word("a", 1, 2), 3}, {word("", 2, 3), 3}, {word("b", 3, 4), 3}};
    EXPECT_THAT(texts(RTTMLine::fromWords(gaps, "f")),
                ElementsAre("SPEAKER f 1 1.000 3.000 a  b <NA> D <NA> <NA>"));
}

TEST(GenerateRTTMTest, WithoutTranscriptionFollowsTheTurnsRebuiltWithoutJoining) {
    DiarizationResult diarization({{1, 1, 0, 0, 1, 1}, {0, 0, 1, 0, 0, 0}}, 8.0f);
    diarization.updateSegments(0.25f);
    const auto lines = generateRTTM(diarization, SpeakerInfoStrategy::segment(), std::nullopt, "meeting");
    EXPECT_THAT(texts(lines), ElementsAre("SPEAKER meeting 1 0.000 0.250 <NA> <NA> A <NA> <NA>",
                                          "SPEAKER meeting 1 0.250 0.125 <NA> <NA> B <NA> <NA>",
                                          "SPEAKER meeting 1 0.500 0.250 <NA> <NA> A <NA> <NA>"));
    EXPECT_EQ(diarization.segments().size(), 2u); // the caller's turns stay joined

    const DiarizationResult unknown(
        1, 8, 8.0f, {SpeakerSegment::withTimes(SpeakerInfo::multiple({0, 1}), 0, 1, 8)}, nullptr);
    EXPECT_THAT(texts(generateRTTM(unknown, SpeakerInfoStrategy::segment(), std::nullopt, "m")),
                ElementsAre("SPEAKER m 1 0.000 1.000 <NA> <NA> UNKNOWN <NA> <NA>"));
}

TEST(GenerateRTTMTest, WithTranscriptionOneRecordPerRunOfWords) {
    // Speaker 0 over 0–1 s, speaker 1 over 2–3 s, at 8 frames per second.
    std::vector<std::int64_t> zero(24, 0), one(24, 0);
    std::fill(zero.begin(), zero.begin() + 8, 1);
    std::fill(one.begin() + 16, one.end(), 1);
    const DiarizationResult diarization({zero, one}, 8.0f);
    const std::vector<vocalith::TranscriptionResultPtr> transcription{
        result({segment(0, {word(" Hello", 0.0f, 0.5f), word(" there", 0.5f, 0.9f)}),
                segment(1, {word(" Hi", 2.0f, 2.5f)})}),
        result({segment(0, {word(" Fine", 2.5f, 3.0f)})}),
    };
    EXPECT_THAT(texts(generateRTTM(diarization, SpeakerInfoStrategy::segment(), transcription, "call")),
                ElementsAre("SPEAKER call 1 0.000 0.900 Hello there <NA> A <NA> <NA>",
                            "SPEAKER call 1 2.000 1.000 Hi Fine <NA> B <NA> <NA>"));
    // Words before any turn get no speaker and no record.
    const std::vector<vocalith::TranscriptionResultPtr> early{
        result({segment(0, {word(" Hm", -2.0f, -1.5f)}), segment(1, {word(" Right", 0.25f, 0.5f)})})};
    const DiarizationResult late({{0, 0, 0, 1, 1, 1, 1, 1}}, 8.0f);
    EXPECT_THAT(texts(generateRTTM(late, SpeakerInfoStrategy::subsegment(), early, "x")),
                ElementsAre("SPEAKER x 1 0.250 0.250 Right <NA> A <NA> <NA>"));
    EXPECT_TRUE(generateRTTM(diarization, SpeakerInfoStrategy::segment(),
                             std::vector<vocalith::TranscriptionResultPtr>{}, "empty")
                    .empty());
}

} // namespace
} // namespace diarith
