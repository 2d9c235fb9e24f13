#include "engine/diarization/result/SpeakerInfo.h"

#include "engine/diarization/result/SpeakerInfoStrategy.h"

#include <gtest/gtest.h>
#include <unordered_set>

namespace diarith {
namespace {

using velnote::platform::decode;
using velnote::platform::Json;
using velnote::platform::JsonDecodeError;
using velnote::platform::parseJson;
using velnote::platform::toCompactJson;

TEST(SpeakerInfoTest, DerivedValuesAndText) {
    const auto one = SpeakerInfo::speakerId(3);
    const auto several = SpeakerInfo::multiple({0, 2});
    const auto none = SpeakerInfo::noMatch();
    EXPECT_EQ(one.speakerId(), 3);
    EXPECT_FALSE(several.speakerId());
    EXPECT_EQ(one.speakerIds(), std::vector<std::int64_t>{3});
    EXPECT_EQ(several.speakerIds(), (std::vector<std::int64_t>{0, 2}));
    EXPECT_TRUE(none.speakerIds().empty());
    EXPECT_EQ(one.description(), "Speaker 3");
    EXPECT_EQ(several.description(), "Multiple Speakers: [0, 2]");
    EXPECT_EQ(none.description(), "No Speaker Matched");
    EXPECT_EQ(SpeakerInfo::multiple({3}) == one, false);
    const std::unordered_set<SpeakerInfo> set{one, several, none, SpeakerInfo::speakerId(3)};
    EXPECT_EQ(set.size(), 3u);
}

TEST(SpeakerInfoTest, JsonRoundTrip) {
    for (const auto& [info, text] : std::vector<std::pair<SpeakerInfo, std::string>>{
             {SpeakerInfo::noMatch(), R"({"noMatch":{}})"},
             {SpeakerInfo::multiple({0, 2}), R"({"multiple":{"_0":[0,2]}})"},
             {SpeakerInfo::speakerId(3), R"({"speakerId":{"_0":3}})"},
         }) {
        EXPECT_EQ(toCompactJson(Json(info)), text);
        EXPECT_EQ(decode<SpeakerInfo>(parseJson(text)), info) << text;
    }
    EXPECT_EQ(decode<SpeakerInfo>(parseJson(R"({"speakerId":{"_0":1},"other":5})")),
              SpeakerInfo::speakerId(1));
}

TEST(SpeakerInfoTest, BadJsonFailsWithItsPath) {
    struct Case {
        const char* text;
        const char* path;
        const char* problem;
    };
    const Case cases[] = {
        {"{}", "", "Invalid number of keys found, expected one."},
        {R"({"noMatch":{},"speakerId":{"_0":1}})", "", "Invalid number of keys found, expected one."},
        {R"({"speakerId":{}})", "speakerId._0", "missing required key"},
        {R"({"speakerId":{"_0":1.5}})", "speakerId._0", ""},
        {R"({"multiple":{"_0":[0,"a"]}})", "multiple._0[1]", ""},
        {R"({"multiple":[0]})", "multiple", ""},
        {R"({"noMatch":1})", "noMatch", ""},
        {"[]", "", ""},
    };
    for (const auto& c : cases) {
        try {
            decode<SpeakerInfo>(parseJson(c.text));
            ADD_FAILURE() << c.text;
        } catch (const JsonDecodeError& e) {
            EXPECT_EQ(e.path(), c.path) << c.text;
            if (*c.problem) {
                EXPECT_EQ(e.problem(), c.problem) << c.text;
            }
        }
    }
}

TEST(SpeakerInfoStrategyTest, FromTextEqualityAndHash) {
    EXPECT_EQ(SpeakerInfoStrategy::fromText("SEGMENT"), SpeakerInfoStrategy::segment());
    EXPECT_EQ(SpeakerInfoStrategy::fromText("SubSegment"), SpeakerInfoStrategy::subsegment(0.15f));
    EXPECT_FALSE(SpeakerInfoStrategy::fromText("sub-segment"));
    EXPECT_FALSE(SpeakerInfoStrategy::fromText(""));
    EXPECT_FLOAT_EQ(SpeakerInfoStrategy::subsegment().betweenWordThreshold(), 0.15f);
    EXPECT_NE(SpeakerInfoStrategy::subsegment(0.2f), SpeakerInfoStrategy::subsegment(0.15f));
    const std::hash<SpeakerInfoStrategy> hash;
    EXPECT_EQ(SpeakerInfoStrategy::subsegment(-0.0f), SpeakerInfoStrategy::subsegment(0.0f));
    EXPECT_EQ(hash(SpeakerInfoStrategy::subsegment(-0.0f)), hash(SpeakerInfoStrategy::subsegment(0.0f)));
    EXPECT_NE(hash(SpeakerInfoStrategy::segment()), hash(SpeakerInfoStrategy::subsegment(0.0f)));
}

} // namespace
} // namespace diarith
