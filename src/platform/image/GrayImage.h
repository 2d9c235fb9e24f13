#pragma once

#include "platform/image/RgbImage.h"

#include <cstdint>
#include <vector>

namespace velnote::platform {

// An 8-bit luminance bitmap: rows top to bottom, one byte a pixel, no padding.
struct GrayImage {
    int width = 0;                    // pixels
    int height = 0;                   // pixels
    std::vector<std::uint8_t> pixels; // width × height bytes

    std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// The luminance of each pixel (Rec. 601 weights, rounded). An empty image gives an empty one.
GrayImage grayscale(const RgbImage& image);

} // namespace velnote::platform
