#include "summary/text/ScreenshotEmbedding.h"

#include "platform/fs/FileUrl.h"
#include "platform/fs/Files.h"
#include "platform/image/Jpeg.h"
#include "platform/text/Base64.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <random>

namespace velnote {
namespace {

using SummaryFormatter::encodeImageBase64;
using SummaryFormatter::extractSummaryHeadline;
using SummaryFormatter::replacePlaceholders;
using testing::TempDir;
namespace fs = std::filesystem;

platform::RgbImage gradient(int width, int height) {
    platform::RgbImage image{width, height,
                             std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixel(x, y)[0] = image.pixel(x, y)[1] = static_cast<std::uint8_t>((x + y) % 256);
    return image;
}

platform::RgbImage noise(int width, int height) {
    std::mt19937 random(11);
    platform::RgbImage image{width, height,
                             std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (auto& byte : image.pixels)
        byte = static_cast<std::uint8_t>(random());
    return image;
}

platform::RgbImage decodedBase64(const std::string& base64) {
    return platform::decodeJpeg(*platform::base64Decoded(base64));
}

class ScreenshotEmbeddingTest : public ::testing::Test {
  protected:
    ScreenshotEmbeddingTest() { platform::createDirectories(shots()); }

    fs::path shots() const { return session_.path() / "screencaptures"; }
    void writeShot(const std::string& name, const platform::RgbImage& image) {
        platform::writeFileAtomically(shots() / name, platform::encodeJpeg(image, 90));
    }

    TempDir session_;
};

TEST_F(ScreenshotEmbeddingTest, EncodesWithinTheWidthAndByteLimits) {
    writeShot("wide.jpg", gradient(3000, 30));
    writeShot("small.jpg", gradient(640, 20));
    writeShot("noisy.jpg", noise(400, 400));

    const platform::RgbImage wide = decodedBase64(*encodeImageBase64(shots() / "wide.jpg", 300, 1280));
    EXPECT_EQ(wide.width, 1280);
    EXPECT_EQ(wide.height, 12); // 30 × 1280 / 3000 = 12.8, truncated
    const platform::RgbImage small = decodedBase64(*encodeImageBase64(shots() / "small.jpg", 300, 1280));
    EXPECT_EQ(small.width, 640);
    EXPECT_EQ(small.height, 20);

    // Random pixels at the lowest quality still exceed 1 KiB: refused, not retried.
    EXPECT_EQ(encodeImageBase64(shots() / "noisy.jpg", 1, 1280), std::nullopt);
    EXPECT_EQ(encodeImageBase64(shots() / "missing.jpg", 300, 1280), std::nullopt);
    platform::writeFileAtomically(shots() / "fake.jpg", "not an image");
    EXPECT_EQ(encodeImageBase64(shots() / "fake.jpg", 300, 1280), std::nullopt);
    EXPECT_EQ(encodeImageBase64(shots() / "small.jpg", 300, 0), std::nullopt);
}

TEST_F(ScreenshotEmbeddingTest, ReplacesPlaceholdersInTextOrderUpToTheLimit) {
    // The image that stays too large comes first: it does not use up one of the three.
    std::string markdown = "# Summary\n![x](PLACEHOLDER:big.jpg)\n";
    for (int i = 0; i < 4; ++i) {
        writeShot("shot" + std::to_string(i) + ".jpg", gradient(32, 32));
        markdown += "![slide " + std::to_string(i) + "](PLACEHOLDER:shot" + std::to_string(i) + ".jpg)\n";
    }
    markdown += "![](PLACEHOLDER:gone.jpg) ![alt](PLACEHOLDER:a b.jpg)";
    writeShot("big.jpg", noise(200, 200));

    const std::string result = replacePlaceholders(markdown, shots(), true, 3, 4, 1280);
    EXPECT_NE(result.find("![slide 0](data:image/jpeg;base64,"), std::string::npos);
    EXPECT_NE(result.find("![slide 2](data:image/jpeg;base64,"), std::string::npos);
    EXPECT_NE(result.find("*画像省略（上限超過）: shot3.jpg*"), std::string::npos);
    EXPECT_NE(result.find("*画像なし: gone.jpg*"), std::string::npos);
    EXPECT_NE(result.find("![alt](PLACEHOLDER:a b.jpg)"), std::string::npos); // a space: no placeholder
    EXPECT_NE(result.find("*画像省略（サイズ超過）: big.jpg*"), std::string::npos);
    EXPECT_TRUE(result.starts_with("# Summary\n"));

    EXPECT_EQ(replacePlaceholders("no placeholders here", shots(), true, 12, 300, 1280),
              "no placeholders here");
}

TEST_F(ScreenshotEmbeddingTest, LinksTheFileWhenNotEmbedding) {
    writeShot("0001_2025-01-31T09-15-00Z.jpg", gradient(8, 8));
    const std::string result = replacePlaceholders("see ![slide](PLACEHOLDER:0001_2025-01-31T09-15-00Z.jpg).",
                                                   shots(), false, 12, 300, 1280);
    EXPECT_EQ(result, "see ![slide](" + platform::fileUrl(shots() / "0001_2025-01-31T09-15-00Z.jpg") + ").");
}

TEST_F(ScreenshotEmbeddingTest, NamesThatReachOutsideTheFolderCountAsMissing) {
    platform::writeFileAtomically(session_.path() / "secret.jpg", platform::encodeJpeg(gradient(8, 8), 90));
    fs::create_symlink(session_.path() / "secret.jpg", shots() / "link.jpg");
    fs::create_directory(shots() / "sub");
    writeShot("sub/inner.jpg", gradient(8, 8));
    const std::string result = replacePlaceholders(
        "![a](PLACEHOLDER:../secret.jpg) ![](PLACEHOLDER:link.jpg) ![](PLACEHOLDER:sub/inner.jpg) "
        "![](PLACEHOLDER:..) ![](PLACEHOLDER:sub)",
        shots(), false, 12, 300, 1280);
    EXPECT_EQ(result,
              "*画像なし: a* *画像なし: link.jpg* *画像なし: sub/inner.jpg* *画像なし: ..* *画像なし: sub*");
}

TEST_F(ScreenshotEmbeddingTest, HeadlineIsTheFirstHeadingButTheFooter) {
    const struct {
        std::string text;
        std::optional<std::string> headline;
    } cases[] = {
        {"---\nprovider: local\n---\n\n# Weekly sync\n## Topics", "Weekly sync"},
        {"Intro\n  ### \t Deep heading  \n", "Deep heading"},
        {"short text\n\n## Velnote Summary\n- provider: local\n", std::nullopt},
        {"#\n## Velnote Summary\n#### Real\n", "Real"},
        {"no headings", std::nullopt},
    };
    for (const auto& c : cases) {
        platform::writeFileAtomically(session_.path() / "summary.md", c.text);
        EXPECT_EQ(extractSummaryHeadline(session_.path() / "summary.md"), c.headline) << c.text;
    }
    EXPECT_EQ(extractSummaryHeadline(session_.path() / "missing.md"), std::nullopt);
    platform::writeFileAtomically(session_.path() / "summary.md", "# \xff\xfe");
    EXPECT_EQ(extractSummaryHeadline(session_.path() / "summary.md"), std::nullopt);
}

} // namespace
} // namespace velnote
