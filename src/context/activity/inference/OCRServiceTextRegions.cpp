#include "context/activity/inference/OCRServiceTextRegions.h"

#include <algorithm>
#include <limits>

namespace velnote {

OCRServiceTextRegions::OCRServiceTextRegions(std::shared_ptr<VisionOCRServiceProtocol> ocr)
    : ocr_(std::move(ocr)) {}

std::pair<std::vector<StructuredTextRegion>, int> OCRServiceTextRegions::extractStructuredTextRegions(
    const platform::RgbImage& screenshot, const platform::RgbImage* currentThumbnail,
    const platform::RgbImage* previousThumbnail, int maxRegions, int saliencyTopK, std::stop_token stop) {
    auto [regions, salient] = ocr_->extractStructuredTextRegions(
        screenshot, currentThumbnail, previousThumbnail, maxRegions, saliencyTopK, stop);
    const auto count = std::clamp<std::int64_t>(salient, 0, std::numeric_limits<int>::max());
    return {std::move(regions), static_cast<int>(count)};
}

} // namespace velnote
