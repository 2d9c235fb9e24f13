#include "context/ocr/OCRService.h"
#include "session/config/OCRLanguageChoice.h"
#include "session/config/SessionConfig.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using Languages = std::vector<std::string>;

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
    const Languages languages =
        OCRLanguageChoice::currentVisionOCRRecognitionLanguages(emptySettings, installed);
    ASSERT_FALSE(languages.empty());
    EXPECT_EQ(languages.front(), "ja-JP");
    EXPECT_EQ(languages.size(), installed.size());

    const SessionConfig config = SessionConfig::fromUserDefaults(emptySettings, installed);
    EXPECT_EQ(config.capture.ocrRecognitionLanguages, languages);
}

} // namespace
} // namespace velnote
