// The changes made while a recording runs: restarts, switches, display, manual screenshot,
// region; and the running-session adjustments AppState hands over.

#include "capture/controller/AudioCaptureManager.h"
#include "capture/controller/ScreenCaptureChoices.h"
#include "capture/recording/MicrophoneCapture.h"
#include "capture/recording/SystemAudioCapture.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"

#include <exception>

namespace velnote {
namespace fs = std::filesystem;

void AudioCaptureManager::restartMicCapture() {
    requireMainThread("restartMicCapture");
    // During a start or a stop the capture belongs to the sequence.
    if (!micCapture_ || sequence_ != Sequence::none) {
        return;
    }
    VelnoteLogger::audio().info("restarting mic capture...");
    micCapture_->stop();
    try {
        micCapture_->start();
    } catch (const std::exception& e) {
        VelnoteLogger::app().error("Failed to restart mic capture: {}", e.what());
        appState_.presentError(
            L10n::isJapanese()
                ? "マイクの再起動に失敗しました。システム設定の「プライバシーとセキュリティ」でマイクへのア"
                  "クセスが許可されているか確認してください。"
                : "Failed to restart microphone. Please ensure that microphone access is allowed in "
                  "System Settings > Privacy & Security.",
            false);
    }
}

void AudioCaptureManager::restartSystemAudioCapture(Completion done) {
    requireMainThread("restartSystemAudioCapture");
    if (appState_.recordingState().phase() != RecordingState::Phase::recording || !systemCapture_) {
        complete(done);
        return;
    }
    VelnoteLogger::audio().info("[AudioCaptureManager] manual system audio restart requested");
    worker_.post([this, capture = systemCapture_, done = std::move(done)] {
        capture->manualRestart();
        VelnoteLogger::audio().info("[AudioCaptureManager] manual system audio restart completed");
        main_.post([done] { complete(done); });
    });
}

void AudioCaptureManager::updateForegroundActivityTracking(bool enabled) {
    requireMainThread("updateForegroundActivityTracking");
    if (!isRecordingSession()) {
        return;
    }
    if (!enabled) {
        if (auto monitor = std::exchange(foregroundAppMonitor_, nullptr)) {
            worker_.post([monitor] { await(monitor->stop(), "stop the foreground activity tracking"); });
        }
        VelnoteLogger::app().info("foreground activity tracking disabled");
    } else if (!foregroundAppMonitor_) {
        startForegroundTracking(*sessionDir_);
        if (foregroundAppMonitor_) {
            VelnoteLogger::app().info("foreground activity tracking enabled");
        }
    }
    appState_.mutateActiveSessionConfig(
        [enabled](SessionConfig& config) { config.capture.foregroundActivityTrackingEnabled = enabled; });
}

// The field changes at once and the monitor starts or stops in order on the worker, so a switch
// back on during a switch-off gets a monitor of its own and the live summary ends with the newest.
void AudioCaptureManager::updateScreenshotEnabled(bool enabled) {
    requireMainThread("updateScreenshotEnabled");
    if (!isRecordingSession()) {
        return;
    }
    const auto liveSummary = sessionServices_.liveSummary;
    if (enabled && !screenMonitor_) {
        screenMonitor_ = makeScreenCaptureMonitor(*sessionDir_, runningConfig());
        if (auto monitor = screenMonitor_) {
            worker_.post([monitor, liveSummary] {
                await(monitor->start(), "start the screenshot monitor");
                VelnoteLogger::app().info("screenshot enabled");
                if (liveSummary) {
                    await(liveSummary->setScreenMonitor(monitor), "hand the monitor to the live summary");
                }
            });
        }
    } else if (!enabled && screenMonitor_) {
        worker_.post([monitor = std::exchange(screenMonitor_, nullptr), liveSummary] {
            await(monitor->stop(), "stop the screenshot monitor");
            VelnoteLogger::app().info("screenshot disabled");
            if (liveSummary) {
                await(liveSummary->setScreenMonitor(nullptr), "take the monitor from the live summary");
            }
        });
    }
    appState_.mutateActiveSessionConfig(
        [enabled](SessionConfig& config) { config.capture.screenshotEnabled = enabled; });
}

void AudioCaptureManager::changeScreenshotDisplay(std::int64_t displayIndex) {
    requireMainThread("changeScreenshotDisplay");
    if (screenMonitor_ && services_.displays) {
        (void)screenMonitor_->updateDisplayID(
            ScreenCaptureChoices::displayID(*services_.displays, displayIndex));
    }
}

void AudioCaptureManager::captureScreenshotOCR(Completion done) {
    requireMainThread("captureScreenshotOCR");
    if (!isRecordingSession()) {
        complete(done);
        return;
    }
    // Screen capture off: a monitor only for this screenshot, never started or kept.
    auto monitor = screenMonitor_ ? screenMonitor_ : makeScreenCaptureMonitor(*sessionDir_, runningConfig());
    const auto failed = [this] {
        appState_.setStatusMessage(
            L10n::localized("L10n.Status.ocrScreenshotFailed", "OCR screenshot failed"));
    };
    if (!monitor) {
        failed();
        complete(done);
        return;
    }
    worker_.post([this, monitor = std::move(monitor), done = std::move(done), failed]() mutable {
        std::optional<fs::path> saved;
        try {
            saved = monitor->captureManualScreenshotOCR().get();
        } catch (const std::exception& e) {
            VelnoteLogger::app().error("manual screenshot failed: {}", e.what());
        }
        monitor.reset();
        onMain([&] {
            if (saved) {
                appState_.setStatusMessage(L10n::localized("L10n.Status.ocrTextSaved", "OCR text saved"));
                openFile_(*saved);
            } else {
                failed();
            }
            complete(done);
        });
    });
}

void AudioCaptureManager::showRegionPicker() {
    requireMainThread("showRegionPicker");
    const auto displays = services_.displays;
    const auto picker = services_.regionPicker;
    if (!displays || !picker) {
        VelnoteLogger::app().info("region picker unavailable");
        return;
    }
    const SessionConfig config = runningConfig();
    const auto screen = ScreenCaptureChoices::screenFor(
        displays->screens(),
        ScreenCaptureChoices::displayID(*displays, config.capture.screenshotDisplayIndex));
    if (!screen) {
        VelnoteLogger::app().info("region picker: no screen");
        return;
    }
    picker->pickRegion(*screen, [this, alive = std::weak_ptr<bool>(alive_),
                                 screen = *screen](std::optional<ScreenRect> dragged) {
        if (alive.expired() || !dragged) {
            return; // cancelled: an earlier region stays
        }
        appState_.setCaptureRegion(ScreenCaptureChoices::regionOnScreen(*dragged, screen));
    });
}

std::shared_ptr<ScreenCaptureMonitoring>
AudioCaptureManager::makeScreenCaptureMonitor(const fs::path& sessionDir, const SessionConfig& config) {
    const auto factory = sessionServices_.screenCapture;
    const auto displays = services_.displays;
    if (!factory || !displays) {
        VelnoteLogger::app().info("screen capture unavailable");
        return nullptr;
    }
    return factory->makeMonitor(ScreenCaptureChoices::monitorSettings(
        sessionDir, sessionStartedAt_.value_or(clock_.wallNow()), config, *displays, settings_));
}

void AudioCaptureManager::applyLiveSummarySettings(bool enabled, std::int64_t intervalMinutes) {
    if (const auto liveSummary = services_.liveSummary) {
        (void)liveSummary->updateSchedule(enabled, intervalMinutes);
    }
}

void AudioCaptureManager::applyCaptureRegion(std::optional<ScreenRect> region) {
    if (screenMonitor_) {
        (void)screenMonitor_->updateCaptureRegion(region);
    }
}

} // namespace velnote
