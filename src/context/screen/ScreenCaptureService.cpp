#include "context/screen/ScreenCaptureService.h"

#include "app/state/AppState.h"
#include "context/screen/X11DisplayCapture.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/power/SystemPowerStatus.h"

namespace velnote {

DefaultScreenCaptureMonitorFactory::DefaultScreenCaptureMonitorFactory(
    std::shared_ptr<ScreenGrabber> grabber, std::shared_ptr<VisionOCRServiceProtocol> ocrService)
    : grabber_(std::move(grabber)), ocrService_(std::move(ocrService)) {}

std::shared_ptr<ScreenCaptureMonitoring>
DefaultScreenCaptureMonitorFactory::makeMonitor(const ScreenCaptureMonitorSettings& settings) {
    ScreenCaptureMonitorDependencies deps{
        .grabber = grabber_,
        .ocrService = ocrService_,
        .clock = nullptr,
        .thermalState = [] { return platform::SystemPowerStatus::shared().thermalState(); },
        .activeSessionConfig =
            [] {
                return platform::MainDispatcher::shared().runAndWait(
                    [] { return AppState::shared().activeSessionConfig(); });
            },
        .randomSuffix = nullptr,
        .writeJPEG = nullptr,
    };
    return std::make_shared<DefaultScreenCaptureMonitor>(settings, std::move(deps));
}

ScreenCaptureServices ScreenCaptureServices::makeDefault() {
    auto display = std::make_shared<X11DisplayCapture>();
    // The process-wide OCR service lives as long as the process; the pointer does not own it.
    std::shared_ptr<VisionOCRServiceProtocol> ocr(&DefaultVisionOCRService::shared(), [](auto*) {});
    return ScreenCaptureServices{
        .monitors = std::make_shared<DefaultScreenCaptureMonitorFactory>(display, ocr),
        .displays = display,
        .ocr = ocr,
    };
}

} // namespace velnote
