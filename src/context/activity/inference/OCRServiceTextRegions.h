#pragma once

#include "context/activity/inference/ScreenInference.h"
#include "context/ocr/VisionOCRService.h"

#include <memory>

namespace velnote {

// The structured text regions of the screen-capture OCR service, for the screen inference. Blocks
// the caller while the recogniser runs; a stop ends it early with no regions.
class OCRServiceTextRegions final : public StructuredTextRegionSource {
  public:
    explicit OCRServiceTextRegions(std::shared_ptr<VisionOCRServiceProtocol> ocr);

    std::pair<std::vector<StructuredTextRegion>, int>
    extractStructuredTextRegions(const platform::RgbImage& screenshot,
                                 const platform::RgbImage* currentThumbnail,
                                 const platform::RgbImage* previousThumbnail, int maxRegions,
                                 int saliencyTopK, std::stop_token stop) override;

  private:
    std::shared_ptr<VisionOCRServiceProtocol> ocr_;
};

} // namespace velnote
