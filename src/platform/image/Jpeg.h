#pragma once

#include "platform/image/RgbImage.h"

#include <string>
#include <string_view>

namespace velnote::platform {

// Larger images are refused before any pixel is decoded, so a small file that
// claims a huge size cannot take the memory of its bitmap.
inline constexpr long long kMaxDecodedJpegPixels = 100'000'000;

// The first image of a JPEG file as 8-bit RGB. A truncated or slightly damaged
// file decodes as far as it goes (the decoder's warnings are accepted).
// Throws ImageError when the data is no JPEG, the image is larger than
// kMaxDecodedJpegPixels or decoding fails.
RgbImage decodeJpeg(std::string_view bytes);

// One baseline JPEG (4:2:0) of `image` at `quality` from 1 (smallest) to 100
// (best); values outside are taken as the nearer end. Throws ImageError.
std::string encodeJpeg(const RgbImage& image, int quality);

} // namespace velnote::platform
