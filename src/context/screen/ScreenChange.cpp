#include "context/screen/ScreenChange.h"

#include "platform/image/GrayImage.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace velnote {

std::vector<std::uint8_t> ScreenChange::makeThumbnail(const platform::RgbImage& image, int width,
                                                      int height) {
    if (image.width <= 0 || image.height <= 0 || width <= 0 || height <= 0)
        return {};
    return platform::grayscale(platform::scaledByAreaAverage(image, width, height)).pixels;
}

double ScreenChange::diffScore(const std::vector<std::uint8_t>& previous,
                               const std::vector<std::uint8_t>& current, int width, int height,
                               double edgeIgnoreRatio) {
    if (width <= 0 || height <= 0 || previous.empty() || previous.size() != current.size() ||
        previous.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return 0;
    const int marginX = static_cast<int>(width * edgeIgnoreRatio);
    const int marginY = static_cast<int>(height * edgeIgnoreRatio);
    double sum = 0;
    long long count = 0;
    for (int y = marginY; y < height - marginY; ++y) {
        for (int x = marginX; x < width - marginX; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x;
            const double d = static_cast<double>(previous[i]) - current[i];
            sum += d * d;
            ++count;
        }
    }
    return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0;
}

std::pair<int, int> ScreenChange::captureResolution(double width, double height) {
    const double factor = std::min({1920 / width, 1080 / height, 1.0});
    return {static_cast<int>(width * factor), static_cast<int>(height * factor)};
}

int ScreenChange::backoffFactor(std::int64_t noChangeCount, std::int64_t threshold) {
    if (noChangeCount >= 6 * threshold)
        return 8;
    if (noChangeCount >= 3 * threshold)
        return 4;
    if (noChangeCount >= threshold)
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

VideoModeDetector::VideoModeDetector(std::size_t windowSize, double motionRatio, double averageScoreThreshold)
    : windowSize_(std::max<std::size_t>(windowSize, 1)), motionRatio_(motionRatio),
      averageScoreThreshold_(averageScoreThreshold) {}

std::optional<std::pair<bool, double>> VideoModeDetector::update(double score) {
    scores_.push_back(score);
    if (scores_.size() > windowSize_)
        scores_.pop_front();
    if (scores_.size() != windowSize_)
        return std::nullopt;
    const auto moving = std::count_if(scores_.begin(), scores_.end(), [](double s) { return s >= 9; });
    const auto window = static_cast<double>(windowSize_);
    const double mean = std::accumulate(scores_.begin(), scores_.end(), 0.0) / window;
    const bool video = mean >= averageScoreThreshold_ && static_cast<double>(moving) / window >= motionRatio_;
    if (video == videoMode_)
        return std::nullopt;
    videoMode_ = video;
    return std::pair{video, mean};
}

} // namespace velnote
