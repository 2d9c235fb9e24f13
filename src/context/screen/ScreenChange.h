#pragma once

#include "platform/image/RgbImage.h"
#include "platform/power/ThermalState.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace velnote {

// How the screenshot monitor tells a changed screen from a still one and a video from both.
// Stateless functions, and the video-mode window; any thread.
struct ScreenChange {
    static constexpr int kThumbWidth = 128;
    static constexpr int kThumbHeight = 72;
    static constexpr double kDiffThreshold = 15;
    static constexpr double kEdgeIgnoreRatio = 0.14;

    // The image drawn into width × height grey pixels (128 × 72: 9,216 bytes, rows top to bottom);
    // empty for an empty image.
    static std::vector<std::uint8_t> makeThumbnail(const platform::RgbImage& image, int width = kThumbWidth,
                                                   int height = kThumbHeight);

    // The root mean square of the grey differences of two thumbnails of width × height inside
    // their margins (`edgeIgnoreRatio` of each side at each edge is left out, 17 columns and 10
    // rows by default: clocks, menus, docks): 0 to 255. 0 when the first is empty, the sizes
    // differ or the margins leave nothing.
    static double diffScore(const std::vector<std::uint8_t>& previous,
                            const std::vector<std::uint8_t>& current, int width = kThumbWidth,
                            int height = kThumbHeight, double edgeIgnoreRatio = kEdgeIgnoreRatio);

    // The size a screenshot of width × height pixels is taken at: scaled down to fit 1920 × 1080,
    // never enlarged, each side truncated.
    static std::pair<int, int> captureResolution(double width, double height);

    // × 1 below `threshold` still captures in a row, × 2 from it, × 4 from 3 times it, × 8 from 6
    // times it (5, 15 and 30 for the default 5).
    static int backoffFactor(std::int64_t noChangeCount, std::int64_t threshold = 5);
    // × 2 when critical, × 1.6 when serious, else × 1.
    static double thermalFactor(platform::ThermalState state);
};

// The last change scores (12 by default) and the judgement whether the screen shows video: a
// share of them (3/4) at 9 or more with a mean of at least 10. Decides only once the window is full.
class VideoModeDetector {
  public:
    static constexpr std::size_t kWindowSize = 12;

    explicit VideoModeDetector(std::size_t windowSize = kWindowSize, double motionRatio = 0.75,
                               double averageScoreThreshold = 10);

    // Adds a score; the new mode when it changed, with the window's mean.
    std::optional<std::pair<bool, double>> update(double score);
    bool isVideoMode() const { return videoMode_; }

  private:
    std::size_t windowSize_;
    double motionRatio_;
    double averageScoreThreshold_;
    std::deque<double> scores_;
    bool videoMode_ = false;
};

} // namespace velnote
