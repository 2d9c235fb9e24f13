#pragma once

#include <filesystem>
#include <functional>

namespace velnote {

// What the recording panel's buttons do outside the panel. The defaults go to the recording
// controller, the session settings window and the desktop; tests put recorders in their place.
struct RecordingWindowActions {
    std::function<void()> restartMicCapture;
    std::function<void()> restartSystemAudioCapture; // started, not waited for
    std::function<void()> captureScreenshotOCR;      // started, not waited for
    std::function<void()> showRegionPicker;
    std::function<void()> stopRecording; // started, not waited for
    std::function<void()> showSessionSettings;
    std::function<void(const std::filesystem::path&)> openFolder;

    static RecordingWindowActions defaults();
};

} // namespace velnote
