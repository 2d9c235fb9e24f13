#include "platform/translation/ApertiumTranslation.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

TEST(ApertiumTranslationTest, StreamEscapingAndModeNames) {
    EXPECT_EQ(apertiumEscaped("a[b]$c\\d^e/f@g<h>{i}"), "a\\[b\\]\\$c\\\\d\\^e\\/f\\@g\\<h\\>\\{i\\}");
    EXPECT_EQ(apertiumEscaped(std::string("a\0b\nc", 5)), "a b c");
    EXPECT_EQ(apertiumUnescaped("\\$5 \\[x\\] a\\\\b"), "$5 [x] a\\b");
    EXPECT_EQ(ApertiumTranslationSession::modeName("en", "es"), "eng-spa");
    EXPECT_EQ(ApertiumTranslationSession::modeName("ja", "en"), "jpn-eng");
    EXPECT_EQ(ApertiumTranslationSession::modeName("", "en"), "");
}

TEST(ApertiumTranslationTest, ReservedCharactersSurviveARealRoundTrip) {
    ApertiumTranslationSession session("eng-spa", {});
    session.prepareTranslation();
    const std::string translated = session.translate("It costs $5 [today] a/b");
    EXPECT_NE(translated.find("$5"), std::string::npos) << translated;
    EXPECT_NE(translated.find("[hoy]"), std::string::npos) << translated;
    EXPECT_EQ(session.translate(std::string("two\0lines", 9)).find('\0'), std::string::npos);
    ApertiumTranslationSession missing("jpn-eng", {});
    EXPECT_THROW(missing.prepareTranslation(), TranslationSessionError);
}

} // namespace
} // namespace velnote::platform
