#include "context/ocr/OCRService.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using Languages = std::vector<std::string>;

TEST(OCRServiceTest, NormalisesTheInputLanguageSetting) {
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
        EXPECT_EQ(OCRService::normalizedInputLanguage(c.value), c.expected) << c.value.value_or("<none>");
    }
}

TEST(OCRServiceTest, PrefersAnExactThenARegionalThenABareEntry) {
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
        EXPECT_EQ(OCRService::preferredVisionRecognitionLanguage(c.input, supported), c.expected)
            << c.input.value_or("<none>");
    }
}

TEST(OCRServiceTest, MovesThePreferredLanguageOrJapaneseToTheFront) {
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
        EXPECT_EQ(OCRService::currentVisionOCRRecognitionLanguages(store, c.supported), c.expected)
            << c.input.value_or("<none>");
    }
}

TEST(OCRServiceTessdataTest, ListsInstalledDataInTheRecognisersOrder) {
    testing::TempDir tessdata;
    for (const char* name : {"jpn", "osd", "eng", "jpn_vert", "chi_sim", "xyz", "kor"})
        std::ofstream(tessdata / (std::string(name) + ".traineddata")) << "data";
    std::filesystem::create_directory(tessdata / "fra.traineddata"); // not a data file
    std::ofstream(tessdata / "deu.config") << "not data";

    EXPECT_EQ(OCRService::recognitionLanguages(tessdata.path()),
              (Languages{"en-US", "zh-Hans", "ko-KR", "ja-JP"}));
    EXPECT_TRUE(OCRService::recognitionLanguages(tessdata / "missing").empty());
}

TEST(OCRServiceTessdataTest, HonoursTessdataPrefix) {
    {
        testing::ScopedEnv env("TESSDATA_PREFIX", "/opt/tessdata");
        EXPECT_EQ(OCRService::tessdataDirectory(), "/opt/tessdata");
    }
    for (const std::optional<std::string>& unset :
         {std::optional<std::string>(), std::optional<std::string>("")}) {
        testing::ScopedEnv env("TESSDATA_PREFIX", unset);
        EXPECT_EQ(OCRService::tessdataDirectory(), "/usr/share/tesseract-ocr/5/tessdata");
    }
}

// The machine's own data: with the Japanese data installed, a recording
// without a language setting recognises Japanese first.
TEST(OCRServiceTessdataTest, InstalledJapaneseDataComesFirst) {
    const Languages installed = OCRService::recognitionLanguages(OCRService::tessdataDirectory());
    if (std::find(installed.begin(), installed.end(), "ja-JP") == installed.end())
        GTEST_SKIP() << "no Japanese recognition data in " << OCRService::tessdataDirectory();
    testing::TempDir dir;
    platform::SettingsStore emptySettings(dir / "settings.json");
    const Languages languages = OCRService::currentVisionOCRRecognitionLanguages(emptySettings, installed);
    ASSERT_FALSE(languages.empty());
    EXPECT_EQ(languages.front(), "ja-JP");
    EXPECT_EQ(languages.size(), installed.size());
}

} // namespace
} // namespace velnote
