#pragma once

#include "platform/image/RgbImage.h"

#include <optional>

namespace velnote {

// The share of near-white samples (250 to 255) in a 48 x 48 gray rendering of `image`, 0 when it
// cannot be drawn (an empty image). A capture scoring 0.995 or more is blank.
double blankScore(const platform::RgbImage& image);
inline constexpr double kBlankCaptureScore = 0.995;

// `image` stretched to exactly width x height (the aspect ratio is not kept); none when either
// side is empty.
std::optional<platform::RgbImage> resizedThumbnail(const platform::RgbImage& image, int width, int height);

} // namespace velnote
