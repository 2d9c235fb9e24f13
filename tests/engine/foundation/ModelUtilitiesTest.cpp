#include "engine/foundation/ModelUtilities.h"

#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace basalith {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream{file};
}

TEST(ModelUtilitiesTest, FindsModelFilesInFolders) {
    velnote::testing::TempDir folder;
    EXPECT_EQ(ModelUtilities::detectModelURL(folder.path(), "Encoder"), folder / "Encoder.gguf");
    EXPECT_EQ(ModelUtilities::detectModelURL(folder.path(), "Encoder", true), folder / "Encoder.gguf");
    EXPECT_EQ(ModelUtilities::detectModelURL(folder.path()), std::nullopt);

    touch(folder / "sub/dir/Encoder.gguf");
    touch(folder / "B.gguf");
    touch(folder / "A.txt");
    EXPECT_EQ(ModelUtilities::detectModelURL(folder.path(), "Encoder", true),
              folder / "sub/dir/Encoder.gguf");
    EXPECT_EQ(ModelUtilities::detectModelURL(folder.path(), "Encoder", false), folder / "Encoder.gguf");
    EXPECT_EQ(ModelUtilities::detectModelURL(folder.path()), folder / "B.gguf");

    touch(folder / "Encoder.gguf");
    EXPECT_EQ(ModelUtilities::detectModelURL(folder.path(), "Encoder", true), folder / "Encoder.gguf");
    EXPECT_EQ(ModelUtilities::detectModelURL(folder / "missing"), std::nullopt);
}

TEST(ModelUtilitiesTest, ReadsDimensionsOfMultiArrayFeatures) {
    ModelDescription model;
    model.inputs["key_cache"] = {FeatureDescription::Type::multiArray,
                                 std::vector<std::int64_t>{1, 384, 1, 448}};
    model.inputs["image"] = {FeatureDescription::Type::image, std::nullopt};
    model.inputs["unshaped"] = {FeatureDescription::Type::multiArray, std::nullopt};
    model.outputs["logits"] = {FeatureDescription::Type::multiArray, std::vector<std::int64_t>{1, 1, 51865}};

    EXPECT_EQ(ModelUtilities::getModelInputDimension(&model, "key_cache", 3), 448);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(&model, "key_cache", 1), 384);
    EXPECT_EQ(ModelUtilities::getModelOutputDimension(&model, "logits", 2), 51865);
    EXPECT_EQ(ModelUtilities::getModelOutputDimension(&model, "key_cache", 0), std::nullopt);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(&model, "image", 0), std::nullopt);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(&model, "unshaped", 0), std::nullopt);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(&model, "key_cache", 4), std::nullopt);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(&model, "key_cache", -1), std::nullopt);
    EXPECT_EQ(ModelUtilities::getModelInputDimension(nullptr, "key_cache", 0), std::nullopt);
}

} // namespace
} // namespace basalith
