#include "engine/speech/models/ModelUtilities.h"

#include "engine/foundation/support/LogLines.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

using basalith::testing::LogLines;
using Level = basalith::Logging::LogLevel;

TEST(ModelUtilitiesTest, DetectVariantByVocabularyAndWidth) {
    struct Case {
        std::int64_t vocabulary;
        std::int64_t width;
        ModelVariant expected;
    };
    const Case cases[] = {
        {51864, 384, ModelVariant::tinyEn},  {51864, 512, ModelVariant::baseEn},
        {51864, 768, ModelVariant::smallEn}, {51864, 1024, ModelVariant::mediumEn},
        {51864, 1280, ModelVariant::baseEn}, {51865, 384, ModelVariant::tiny},
        {51865, 512, ModelVariant::base},    {51865, 768, ModelVariant::small},
        {51865, 1024, ModelVariant::medium}, {51865, 1280, ModelVariant::largev2},
        {51865, 999, ModelVariant::base},    {51866, 384, ModelVariant::largev3},
    };
    LogLines log(Level::error);
    for (const auto& c : cases)
        EXPECT_EQ(ModelUtilities::detectVariant(c.vocabulary, c.width), c.expected)
            << c.vocabulary << "/" << c.width;
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(ModelUtilities::detectVariant(50000, 512), ModelVariant::base);
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{"Unrecognized vocabulary size: 50000, defaulting to base variant"}));
}

TEST(ModelUtilitiesTest, TokenizerNamesAndDescriptions) {
    EXPECT_EQ(ModelUtilities::tokenizerNameForVariant(ModelVariant::tinyEn), "openai/whisper-tiny.en");
    EXPECT_EQ(ModelUtilities::tokenizerNameForVariant(ModelVariant::largev3), "openai/whisper-large-v3");
    EXPECT_EQ(description(ModelVariant::largev2), "large-v2");
    EXPECT_FALSE(isMultilingual(ModelVariant::mediumEn));
    EXPECT_TRUE(isMultilingual(ModelVariant::large));
}

TEST(ModelUtilitiesTest, FormatModelFilesKeepsVariantFoldersInVariantOrder) {
    const std::vector<std::string> paths{
        "openai_whisper-base.en/MelSpectrogram.mlmodelc/x",
        "openai_whisper-tiny/config.json",
        "openai_whisper-large-v3_947MB/a",
        "openai_whisper-large-v3/a",
        "openai_whisper-large-v3/b",
        "openai_whisper-small_216MB/a",
        "readme.md",
        "config.json",
    };
    EXPECT_EQ(ModelUtilities::formatModelFiles(paths),
              (std::vector<std::string>{"openai_whisper-tiny", "openai_whisper-base.en",
                                        "openai_whisper-large-v3", "openai_whisper-large-v3_947MB"}));
    EXPECT_TRUE(ModelUtilities::formatModelFiles({}).empty());
}

} // namespace
} // namespace vocalith
