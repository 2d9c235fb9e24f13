#include "processing/transcription/TranscriptTextSanitizer.h"

#include "session/settings/HallucinationFilterStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

TEST(TranscriptTextSanitizerTest, NoiseBecomesEmptyAndSpeechIsTrimmed) {
    const TranscriptTextSanitizer sanitize({});
    const struct {
        const char* text;
        const char* result;
    } cases[] = {
        {" (applause) ", ""},
        {"[Music]", ""},
        {"[speaking in english]", ""},
        {"[ BLANK_AUDIO ]", ""},
        {"[silence)", ""},
        {" \n\t\u3000 ", ""},
        {"\u3000（拍手）\u3000", "（拍手）"}, // full-width brackets are not the noise pattern
        {"[音楽]", ""},
        {"a, a, a, a, a, a, a, a, a", ""},
        {"a, a, a, a, a, a, a, a", "a, a, a, a, a, a, a, a"},
        {"はい、はい、はい、はい、はい、はい、はい、はい、はい", ""},
        {"あ・あ・あ・い・い・い・う・う・う", ""},
        {"a,b,c,d,e,a,b,c,d", "a,b,c,d,e,a,b,c,d"}, // 5 distinct of 9
        {",,,,,,,,", ""},                           // 9 empty pieces
        {"\u3000こんにちは\u3000", "こんにちは"},
        {"  hello world \n", "hello world"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sanitize(c.text), c.result) << c.text;

    EXPECT_EQ(sanitize("[" + std::string(60, 'a') + "]"), "");
    const std::string longer = "[" + std::string(61, 'a') + "]";
    EXPECT_EQ(sanitize(longer), longer) << "more than 60 inside is no aside";
}

TEST(TranscriptTextSanitizerTest, PiecesOfAListAreTrimmedOfSpacesButNotOfLineBreaks) {
    EXPECT_TRUE(TranscriptTextSanitizer::isHallucination("x,\u3000x, x ,x,x\t,x,y,z,w"));
    EXPECT_FALSE(TranscriptTextSanitizer::isHallucination("x,x\n,\nx,x\n\n,\n\nx,x,x,x,x"))
        << "\"x\" and \"x\\n\" are different pieces";
}

TEST(TranscriptTextSanitizerTest, FilterPhrasesAreRemovedInListOrder) {
    const TranscriptTextSanitizer sanitize({"ご視聴ありがとうございました", "", "Thank"});
    EXPECT_EQ(sanitize("ご視聴ありがとうございました 次の話題"), "次の話題");
    EXPECT_EQ(sanitize("ご視聴ありがとうございました"), "");
    EXPECT_EQ(sanitize("thank you"), "thank you") << "case-sensitive";
    EXPECT_EQ(sanitize("Thanks, Thank you"), "s,  you") << "inside words too";

    const TranscriptTextSanitizer ordered({"Th", "Thanks"});
    EXPECT_EQ(ordered("Thanks a lot"), "anks a lot") << "the shorter phrase first takes the longer one apart";

    const TranscriptTextSanitizer composed({"が"}); // precomposed
    EXPECT_EQ(composed("か\u3099んばる"), "んばる") << "canonically equivalent forms match";
}

TEST(TranscriptTextSanitizerTest, ReadsTheEnabledPhrasesWhenCreated) {
    testing::TempDir dir;
    platform::SettingsStore store(dir / "settings.json");
    HallucinationFilterStore::saveEntries(
        {{platform::Uuid::random(), "字幕", true}, {platform::Uuid::random(), "off", false}}, store);
    const auto sanitize = TranscriptTextSanitizer::createTextSanitizer(store);
    HallucinationFilterStore::saveEntries({}, store);
    EXPECT_EQ(sanitize("字幕 off"), "off") << "a later change reaches only new sanitizers";
    EXPECT_EQ(TranscriptTextSanitizer::createTextSanitizer(store)("字幕 off"), "字幕 off");
}

} // namespace
} // namespace velnote
