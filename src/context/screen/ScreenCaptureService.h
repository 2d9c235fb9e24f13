#pragma once

#include "context/screen/DefaultScreenCaptureMonitor.h"
#include "context/screen/DisplayDirectory.h"
#include "context/screen/ScreenCaptureMonitoring.h"

#include <memory>

namespace velnote {

// Builds DefaultScreenCaptureMonitors over one screen grabber and OCR service, with the system
// clock, the machine's thermal state and the application state's running configuration.
class DefaultScreenCaptureMonitorFactory final : public ScreenCaptureMonitorFactory {
  public:
    DefaultScreenCaptureMonitorFactory(std::shared_ptr<ScreenGrabber> grabber,
                                       std::shared_ptr<VisionOCRServiceProtocol> ocrService);
    std::shared_ptr<ScreenCaptureMonitoring>
    makeMonitor(const ScreenCaptureMonitorSettings& settings) override;

  private:
    std::shared_ptr<ScreenGrabber> grabber_;
    std::shared_ptr<VisionOCRServiceProtocol> ocrService_;
};

// What screen capture installs at launch: the monitor factory and the display list, both over the
// X display and the real OCR service.
struct ScreenCaptureServices {
    std::shared_ptr<ScreenCaptureMonitorFactory> monitors;
    std::shared_ptr<DisplayDirectory> displays;
    std::shared_ptr<VisionOCRServiceProtocol>
        ocr; // the one the monitors use, for other readers of screen text

    static ScreenCaptureServices makeDefault();
};

} // namespace velnote
