#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace velnote::platform {

// An image that cannot be decoded, scaled or encoded; what() says why.
class ImageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An 8-bit RGB bitmap without alpha: rows top to bottom, 3 bytes a pixel.
struct RgbImage {
    int width = 0;                    // pixels
    int height = 0;                   // pixels
    std::vector<std::uint8_t> pixels; // width × height × 3 bytes

    std::uint8_t* pixel(int x, int y) { return &pixels[(static_cast<std::size_t>(y) * width + x) * 3]; }
    const std::uint8_t* pixel(int x, int y) const {
        return &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
    }
};

// `image` drawn to fill width × height: each target pixel is the average of
// the source area it covers, partly covered source pixels weighted by the
// part covered. Throws ImageError for an empty source or target.
RgbImage scaledByAreaAverage(const RgbImage& image, int width, int height);

} // namespace velnote::platform
