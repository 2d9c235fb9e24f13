#include "engine/foundation/ModelInfo.h"

#include "engine/foundation/ModelDownloaderError.h"
#include "engine/foundation/ModelState.h"

#include <gtest/gtest.h>

namespace basalith {
namespace {

TEST(ModelInfoTest, PatternsDescriptionsAndFolders) {
    struct Case {
        ModelInfo info;
        std::string pattern;
        std::string description;
        std::string debug;
        std::string url;
    };
    const Case cases[] = {
        {{"pyannote-v3", "W8A16", "speaker_segmenter", ComputeUnits::cpuOnly},
         "speaker_segmenter/pyannote-v3/W8A16/*",
         "speaker_segmenter/pyannote-v3/W8A16",
         "ModelInfo(name: speaker_segmenter, version: pyannote-v3, variant: W8A16, computeUnit: cpuOnly)",
         "/base/speaker_segmenter/pyannote-v3/W8A16"},
        {{std::nullopt, std::nullopt, "embedder", ComputeUnits::all},
         "embedder/*/*/*",
         "embedder",
         "ModelInfo(name: embedder, version: nil, variant: nil, computeUnit: all)",
         "/base/embedder"},
        {{"v2/beta", std::nullopt, "m", static_cast<ComputeUnits>(9)},
         "m/v2/beta/*/*",
         "m/v2/beta",
         "ModelInfo(name: m, version: v2/beta, variant: nil, computeUnit: unknown)",
         "/base/m/v2/beta"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.info.downloadPattern(), c.pattern);
        EXPECT_EQ(c.info.description(), c.description);
        EXPECT_EQ(c.info.debugDescription(), c.debug);
        EXPECT_EQ(c.info.modelURL("/base"), c.url);
    }
}

TEST(ModelInfoTest, FindBaseFolderWalksUpToTheNameFolder) {
    const ModelInfo info{"pyannote-v3", "W8A16", "speaker_segmenter", ComputeUnits::cpuOnly};
    EXPECT_EQ(info.findBaseFolder("/c/repo/speaker_segmenter/pyannote-v3/W8A16/SpeakerSegmenter.gguf"),
              std::filesystem::path("/c/repo"));
    EXPECT_EQ(info.findBaseFolder("/c/repo/speaker_segmenter/"), std::filesystem::path("/c/repo"));
    EXPECT_EQ(info.findBaseFolder("/speaker_segmenter"), std::filesystem::path("/"));
    EXPECT_EQ(info.findBaseFolder("/c/repo/Speaker_Segmenter/x"), std::nullopt);
    EXPECT_EQ(info.findBaseFolder("/"), std::nullopt);
}

TEST(ModelStateTest, DescriptionsAndBusyStates) {
    struct Case {
        ModelState state;
        const char* text;
        bool busy;
    };
    const Case cases[] = {
        {ModelState::unloading, "Unloading", true},     {ModelState::unloaded, "Unloaded", false},
        {ModelState::loading, "Loading", true},         {ModelState::loaded, "Loaded", false},
        {ModelState::prewarming, "Specializing", true}, {ModelState::prewarmed, "Specialized", false},
        {ModelState::downloading, "Downloading", true}, {ModelState::downloaded, "Downloaded", false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(cases[i].state), i);
        EXPECT_STREQ(description(cases[i].state), cases[i].text);
        EXPECT_EQ(isBusy(cases[i].state), cases[i].busy);
    }
}

TEST(ModelDownloaderErrorTest, DescriptionIsTheCarriedText) {
    EXPECT_EQ(ModelDownloaderError::modelUnavailable("No model found for X").errorDescription(),
              "No model found for X");
}

} // namespace
} // namespace basalith
