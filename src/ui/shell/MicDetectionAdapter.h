#pragma once

#include "app/shell/AppDelegate.h"
#include "capture/autodetect/MicAutoDetectionCoordinator.h"

namespace velnote {

// Microphone auto-detection as the delegate drives it, over the coordinator of the capture layer.
class MicDetectionAdapter final : public AppDelegate::MicDetection {
  public:
    explicit MicDetectionAdapter(MicAutoDetectionCoordinator& coordinator) : coordinator_(coordinator) {}

    void setup() override { coordinator_.setup(); }
    void startMonitoring() override { coordinator_.startMonitoring(); }
    void stopMonitoring() override { coordinator_.stopMonitoring(); }
    bool isEnabled() const override { return coordinator_.isEnabled(); }
    bool currentInputDeviceIsRunning() override {
        return coordinator_.usageMonitor().currentInputDeviceIsRunning();
    }
    // Closing the prompt also ends its timer; the monitor's connection goes with it.
    void willTerminate() override { coordinator_.stopMonitoring(); }

  private:
    MicAutoDetectionCoordinator& coordinator_;
};

} // namespace velnote
