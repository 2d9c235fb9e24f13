#include "session/config/OCRLanguageChoice.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using Languages = std::vector<std::string>;

TEST(OCRLanguageChoiceTest, NormalisesTheInputLanguageSetting) {
    const struct {
        std::optional<std::string> value;
        std::optional<std::string> expected;
    } cases[] = {
        {std::nullopt, std::nullopt}, {"", std::nullopt},          {" \n\t", std::nullopt},
        {"AUTO", std::nullopt},       {"Automatic", std::nullopt}, {"自動", std::nullopt},
        {" 自動判定 ", std::nullopt}, {" en_US\n", "en-us"},       {"ja", "ja"},
        {"zh_Hant_TW", "zh-hant-tw"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OCRLanguageChoice::normalizedInputLanguage(c.value), c.expected)
            << c.value.value_or("<none>");
    }
}

TEST(OCRLanguageChoiceTest, PrefersAnExactThenARegionalThenABareEntry) {
    const Languages supported = {"en-US", "fr-FR", "zh-Hans", "zh-Hant", "ja-JP", "de"};
    const struct {
        std::optional<std::string> input;
        std::optional<std::string> expected;
    } cases[] = {
        {"ja", "ja-JP"},        // regional entry of the base language
        {"en_us", "en-US"},     // exact, ignoring case, written as the list writes it
        {"zh-hant", "zh-Hant"}, // exact beats the first regional "zh-Hans"
        {"zh", "zh-Hans"},      // the first regional entry
        {"de-AT", "de"},        // the bare base language
        {"ko", std::nullopt},   // not supported
        {"auto", std::nullopt}, // automatic detection prefers nothing
        {std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OCRLanguageChoice::preferredVisionRecognitionLanguage(c.input, supported), c.expected)
            << c.input.value_or("<none>");
    }
}

TEST(OCRLanguageChoiceTest, MovesThePreferredLanguageOrJapaneseToTheFront) {
    const Languages supported = {"en-US", "fr-FR", "ko-KR", "ja-JP"};
    const struct {
        std::optional<std::string> input;
        Languages supported;
        Languages expected;
    } cases[] = {
        {std::nullopt, supported, {"ja-JP", "en-US", "fr-FR", "ko-KR"}},
        {"自動", supported, {"ja-JP", "en-US", "fr-FR", "ko-KR"}},
        {"  ", supported, {"ja-JP", "en-US", "fr-FR", "ko-KR"}},
        {"ko", supported, {"ko-KR", "en-US", "fr-FR", "ja-JP"}},
        {"en_us", supported, {"en-US", "fr-FR", "ko-KR", "ja-JP"}},
        // A language the recogniser lacks leaves Japanese in front.
        {"de", supported, {"ja-JP", "en-US", "fr-FR", "ko-KR"}},
        // Without Japanese data the list stays as it is.
        {"de", {"en-US", "fr-FR"}, {"en-US", "fr-FR"}},
        {std::nullopt, {}, {}},
    };
    for (const auto& c : cases) {
        testing::TempDir dir;
        platform::SettingsStore store(dir / "settings.json");
        if (c.input)
            store.set("inputLanguage", *c.input);
        EXPECT_EQ(OCRLanguageChoice::currentVisionOCRRecognitionLanguages(store, c.supported), c.expected)
            << c.input.value_or("<none>");
    }
}

} // namespace
} // namespace velnote
