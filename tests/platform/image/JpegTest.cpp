#include "platform/image/Jpeg.h"

#include "platform/image/RgbImage.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace velnote::platform {
namespace {

RgbImage randomImage(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    RgbImage image{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (auto& byte : image.pixels)
        byte = static_cast<std::uint8_t>(random() % 256);
    return image;
}

// The area average written out plainly: integrate the source over the
// rectangle each target pixel covers.
double naiveAreaAverage(const RgbImage& image, int width, int height, int tx, int ty, int channel) {
    const double sx = static_cast<double>(image.width) / width;
    const double sy = static_cast<double>(image.height) / height;
    const double x0 = tx * sx, x1 = (tx + 1) * sx, y0 = ty * sy, y1 = (ty + 1) * sy;
    double sum = 0;
    for (int y = 0; y < image.height; ++y) {
        const double cy = std::max(0.0, std::min<double>(y + 1, y1) - std::max<double>(y, y0));
        for (int x = 0; x < image.width && cy > 0; ++x) {
            const double cx = std::max(0.0, std::min<double>(x + 1, x1) - std::max<double>(x, x0));
            sum += cx * cy * image.pixel(x, y)[channel];
        }
    }
    return sum / (sx * sy);
}

TEST(RgbImageTest, AreaAverageMatchesThePlainIntegral) {
    const RgbImage source = randomImage(37, 23, 7);
    for (const auto& [width, height] : {std::pair{10, 6}, {37, 23}, {5, 23}, {1, 1}, {50, 30}}) {
        const RgbImage scaled = scaledByAreaAverage(source, width, height);
        ASSERT_EQ(scaled.width, width);
        ASSERT_EQ(scaled.height, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(scaled.pixel(x, y)[c], naiveAreaAverage(source, width, height, x, y, c),
                                0.5001)
                        << width << "x" << height << " at " << x << "," << y;
    }
}

TEST(RgbImageTest, HalvingAveragesEachBlockOfFour) {
    RgbImage source{2, 2, {0, 0, 0, 100, 100, 100, 200, 200, 200, 100, 100, 100}};
    const RgbImage scaled = scaledByAreaAverage(source, 1, 1);
    EXPECT_EQ(scaled.pixels, (std::vector<std::uint8_t>{100, 100, 100}));
    EXPECT_THROW(scaledByAreaAverage(source, 0, 1), ImageError);
    EXPECT_THROW(scaledByAreaAverage(RgbImage{}, 1, 1), ImageError);
}

TEST(JpegTest, EncodesAndDecodesTheSameSize) {
    RgbImage flat{64, 48, std::vector<std::uint8_t>(64 * 48 * 3, 120)};
    const std::string jpeg = encodeJpeg(flat, 80);
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(static_cast<unsigned char>(jpeg[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(jpeg[1]), 0xD8);
    const RgbImage decoded = decodeJpeg(jpeg);
    EXPECT_EQ(decoded.width, 64);
    EXPECT_EQ(decoded.height, 48);
    EXPECT_NEAR(decoded.pixel(10, 10)[0], 120, 2);
    // Lower quality, smaller file.
    const RgbImage noisy = randomImage(64, 48, 3);
    EXPECT_LT(encodeJpeg(noisy, 10).size(), encodeJpeg(noisy, 95).size());
}

TEST(JpegTest, RefusesWhatIsNoImage) {
    EXPECT_THROW(decodeJpeg(""), ImageError);
    EXPECT_THROW(decodeJpeg("not a jpeg at all"), ImageError);
    EXPECT_THROW(decodeJpeg(std::string("\x89PNG\r\n\x1a\n", 8)), ImageError);
    EXPECT_THROW(encodeJpeg(RgbImage{}, 80), ImageError);
    EXPECT_THROW(encodeJpeg(RgbImage{2, 2, {1, 2, 3}}, 80), ImageError);
}

TEST(JpegTest, TruncatedFileDecodesAsFarAsItGoes) {
    const std::string jpeg = encodeJpeg(randomImage(64, 64, 5), 90);
    const RgbImage decoded = decodeJpeg(std::string_view(jpeg).substr(0, jpeg.size() * 2 / 3));
    EXPECT_EQ(decoded.width, 64);
    // Cut inside the header: nothing to decode.
    EXPECT_THROW(decodeJpeg(std::string_view(jpeg).substr(0, 20)), ImageError);
}

TEST(JpegTest, HugeClaimedSizeIsRefusedBeforeDecoding) {
    std::string jpeg = encodeJpeg(RgbImage{16, 16, std::vector<std::uint8_t>(16 * 16 * 3, 9)}, 80);
    // Rewrite the frame header's height and width (SOF0: FF C0, length, precision, height, width).
    const std::size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    for (std::size_t i : {sof + 5, sof + 6, sof + 7, sof + 8})
        jpeg[i] = static_cast<char>(0xFF);
    EXPECT_THROW(decodeJpeg(jpeg), ImageError);
}

} // namespace
} // namespace velnote::platform
