#include "context/screen/ScreenChange.h"

#include "platform/image/GrayImage.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace velnote {

std::vector<std::uint8_t> ScreenChange::makeThumbnail(const platform::RgbImage& image) {
    if (image.width <= 0 || image.height <= 0)
        return {};
    return platform::grayscale(platform::scaledByAreaAverage(image, kThumbWidth, kThumbHeight)).pixels;
}

double ScreenChange::diffScore(const std::vector<std::uint8_t>& previous,
                               const std::vector<std::uint8_t>& current) {
    if (previous.empty() || previous.size() != current.size() ||
        previous.size() != static_cast<std::size_t>(kThumbWidth) * kThumbHeight)
        return 0;
    const int marginX = static_cast<int>(kThumbWidth * kEdgeIgnoreRatio);
    const int marginY = static_cast<int>(kThumbHeight * kEdgeIgnoreRatio);
    double sum = 0;
    int count = 0;
    for (int y = marginY; y < kThumbHeight - marginY; ++y) {
        for (int x = marginX; x < kThumbWidth - marginX; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * kThumbWidth + x;
            const double d = static_cast<double>(previous[i]) - current[i];
            sum += d * d;
            ++count;
        }
    }
    return std::sqrt(sum / count);
}

std::pair<int, int> ScreenChange::captureResolution(double width, double height) {
    const double factor = std::min({1920 / width, 1080 / height, 1.0});
    return {static_cast<int>(width * factor), static_cast<int>(height * factor)};
}

int ScreenChange::backoffFactor(std::int64_t noChangeCount) {
    if (noChangeCount >= 30)
        return 8;
    if (noChangeCount >= 15)
        return 4;
    if (noChangeCount >= 5)
        return 2;
    return 1;
}

double ScreenChange::thermalFactor(platform::ThermalState state) {
    switch (state) {
    case platform::ThermalState::critical:
        return 2;
    case platform::ThermalState::serious:
        return 1.6;
    default:
        return 1;
    }
}

std::optional<std::pair<bool, double>> VideoModeDetector::update(double score) {
    scores_.push_back(score);
    if (scores_.size() > kWindowSize)
        scores_.pop_front();
    if (scores_.size() != kWindowSize)
        return std::nullopt;
    const auto moving = std::count_if(scores_.begin(), scores_.end(), [](double s) { return s >= 9; });
    const double mean = std::accumulate(scores_.begin(), scores_.end(), 0.0) / kWindowSize;
    const bool video = mean >= 10 && static_cast<double>(moving) / kWindowSize >= 0.75;
    if (video == videoMode_)
        return std::nullopt;
    videoMode_ = video;
    return std::pair{video, mean};
}

} // namespace velnote
