#include "processing/transcription/InputLanguage.h"

#include "platform/logging/Logger.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

TEST(InputLanguageTest, AliasesResolveToTheCodesTheBackEndsTake) {
    const struct {
        std::optional<std::string> value;
        std::optional<std::string> code;
    } cases[] = {
        {"AUTO", std::nullopt},
        {" Automatic ", std::nullopt},
        {"自動判定", std::nullopt},
        {"自動", std::nullopt},
        {"日本語", "ja"},
        {"ja-JP", "ja"},
        {"English", "en"},
        {"英語", "en"},
        {"zh-Hant", "zh"},
        {"中文繁體", "zh"},
        {"zh-tw", "zh"},
        {"Simplified Chinese", "zh"},
        {"한국어", "ko"},
        {"Italiano", "it"},
        {"FRANÇAIS", "fr"},
        {"franc\u0327ais", "fr"},
        {"Português", "pt"},
        {"de", "de"},
        {"\u3000es\n", "es"},
        {"", "ja"},
        {std::nullopt, "ja"},
        {" \u3000", "ja"},
        {"xx", "ja"},
        {"ru", "ja"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InputLanguage::resolved(c.value), c.code) << c.value.value_or("<none>");
}

TEST(InputLanguageTest, FallbacksAreLogged) {
    platform::LogCapture log;
    InputLanguage::resolved(std::nullopt);
    EXPECT_TRUE(log.contains("inputLanguage is empty; fallback to ja"));
    InputLanguage::resolved(" XX ");
    EXPECT_TRUE(log.contains("unsupported inputLanguage=xx; fallback to ja"));
    EXPECT_EQ(log.records().back().category, "transcribe");
}

} // namespace
} // namespace velnote
