#include "ui/recording/RecordingWindowActions.h"

#include "capture/controller/AudioCaptureManager.h"
#include "session/VelnoteLogger.h"
#include "ui/settings/SessionSettingsWindowController.h"

#include <QDesktopServices>
#include <QUrl>

namespace velnote {

RecordingWindowActions RecordingWindowActions::defaults() {
    return {
        .restartMicCapture = [] { AudioCaptureManager::shared().restartMicCapture(); },
        .restartSystemAudioCapture = [] { AudioCaptureManager::shared().restartSystemAudioCapture([] {}); },
        .captureScreenshotOCR = [] { AudioCaptureManager::shared().captureScreenshotOCR([] {}); },
        .showRegionPicker = [] { AudioCaptureManager::shared().showRegionPicker(); },
        .stopRecording = [] { AudioCaptureManager::shared().stopRecording([] {}); },
        .showSessionSettings =
            [] {
                if (SessionSettingsWindowController* settings = SessionSettingsWindowController::shared()) {
                    settings->show();
                } else {
                    VelnoteLogger::app().info("session settings window is not available yet");
                }
            },
        .openFolder =
            [](const std::filesystem::path& folder) {
                if (!QDesktopServices::openUrl(
                        QUrl::fromLocalFile(QString::fromStdString(folder.string())))) {
                    VelnoteLogger::app().error("could not open the session folder {}", folder.string());
                }
            },
    };
}

} // namespace velnote
