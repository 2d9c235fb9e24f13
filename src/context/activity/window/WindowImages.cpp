#include "context/activity/window/WindowImages.h"

#include <cmath>

namespace velnote {

double blankScore(const platform::RgbImage& image) {
    constexpr int kSide = 48;
    const auto small = resizedThumbnail(image, kSide, kSide);
    if (!small) {
        return 0;
    }
    int bright = 0;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const std::uint8_t* p = small->pixel(x, y);
            const double gray = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
            bright += std::lround(gray) > 249 ? 1 : 0;
        }
    }
    return static_cast<double>(bright) / (kSide * kSide);
}

std::optional<platform::RgbImage> resizedThumbnail(const platform::RgbImage& image, int width, int height) {
    try {
        return platform::scaledByAreaAverage(image, width, height);
    } catch (const platform::ImageError&) {
        return std::nullopt;
    }
}

} // namespace velnote
