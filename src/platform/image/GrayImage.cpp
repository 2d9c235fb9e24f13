#include "platform/image/GrayImage.h"

namespace velnote::platform {

GrayImage grayscale(const RgbImage& image) {
    GrayImage gray{image.width, image.height, {}};
    if (image.width <= 0 || image.height <= 0)
        return GrayImage{};
    gray.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    for (std::size_t i = 0; i < gray.pixels.size(); ++i) {
        const std::uint8_t* p = &image.pixels[i * 3];
        // 299/587/114 in thousandths, rounded: integer arithmetic keeps results exact across builds.
        gray.pixels[i] = static_cast<std::uint8_t>((299U * p[0] + 587U * p[1] + 114U * p[2] + 500U) / 1000U);
    }
    return gray;
}

} // namespace velnote::platform
