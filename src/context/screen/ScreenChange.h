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

    // The image drawn into 128 × 72 grey pixels (9,216 bytes, rows top to bottom); empty for an
    // empty image.
    static std::vector<std::uint8_t> makeThumbnail(const platform::RgbImage& image);

    // The root mean square of the grey differences of two thumbnails inside their margins (17
    // columns and 10 rows at each edge are left out: clocks, menus, docks): 0 to 255. 0 when the
    // first is empty or the sizes differ.
    static double diffScore(const std::vector<std::uint8_t>& previous,
                            const std::vector<std::uint8_t>& current);

    // The size a screenshot of width × height pixels is taken at: scaled down to fit 1920 × 1080,
    // never enlarged, each side truncated.
    static std::pair<int, int> captureResolution(double width, double height);

    // × 1 below 5 still captures in a row, × 2 from 5, × 4 from 15, × 8 from 30.
    static int backoffFactor(std::int64_t noChangeCount);
    // × 2 when critical, × 1.6 when serious, else × 1.
    static double thermalFactor(platform::ThermalState state);
};

// The last 12 change scores and the judgement whether the screen shows video: at least 9 of the
// 12 at 9 or more with a mean of at least 10. Decides only once 12 scores are in.
class VideoModeDetector {
  public:
    static constexpr std::size_t kWindowSize = 12;

    // Adds a score; the new mode when it changed, with the window's mean.
    std::optional<std::pair<bool, double>> update(double score);
    bool isVideoMode() const { return videoMode_; }

  private:
    std::deque<double> scores_;
    bool videoMode_ = false;
};

} // namespace velnote
