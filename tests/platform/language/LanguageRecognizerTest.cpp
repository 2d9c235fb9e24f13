#include "platform/language/LanguageRecognizer.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

TEST(LanguageRecognizerTest, NamesTheLanguageMostOfTheTextIsIn) {
    EXPECT_EQ(dominantLanguage("The quick brown fox jumps over the lazy dog while the meeting goes on."),
              "en");
    EXPECT_EQ(dominantLanguage("今日の会議では来週のリリース計画について話し合いました。"), "ja");
    EXPECT_EQ(dominantLanguage("Die Besprechung beginnt morgen früh um neun Uhr im großen Saal."), "de");
    // Mostly Japanese with an English product name.
    EXPECT_EQ(dominantLanguage("Hushtape の新しいバージョンでは文字起こしがもっと速くなります。"), "ja");
}

TEST(LanguageRecognizerTest, NoLanguageWithoutLetters) {
    EXPECT_EQ(dominantLanguage(""), std::nullopt);
    EXPECT_EQ(dominantLanguage("12345 !!! ..."), std::nullopt);
    EXPECT_EQ(dominantLanguage("\xff\xfe broken"), std::nullopt);
}

} // namespace
} // namespace velnote::platform
