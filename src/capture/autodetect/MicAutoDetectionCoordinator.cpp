#include "capture/autodetect/MicAutoDetectionCoordinator.h"

#include "capture/controller/AudioCaptureManager.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "session/settings/UserDefaultsKey.h"

#include <string>

namespace velnote {
namespace {

const platform::Logger& audioLog() {
    return VelnoteLogger::audio();
}

std::string stateText(const RecordingState& state) {
    switch (state.phase()) {
    case RecordingState::Phase::idle:
        return "idle";
    case RecordingState::Phase::starting:
        return "starting";
    case RecordingState::Phase::recording:
        return "recording";
    case RecordingState::Phase::stopping:
        return "stopping";
    case RecordingState::Phase::error:
        return "error(" + state.errorMessage() + ")";
    }
    return {};
}

} // namespace

MicAutoDetectionCoordinator::MicAutoDetectionCoordinator(Dependencies d)
    : controller_(d.controller), appState_(d.appState ? *d.appState : AppState::shared()),
      main_(d.mainDispatcher ? *d.mainDispatcher : platform::MainDispatcher::shared()),
      settings_(d.settings ? *d.settings : platform::SettingsStore::standard()),
      timers_(d.timers ? *d.timers : platform::TimerScheduler::shared()),
      presenter_(d.presenter ? std::move(d.presenter) : makeLoggingPromptAlertPresenter()), monitor_([&] {
          MicrophoneUsageMonitor::Dependencies monitor = d.monitor;
          if (!monitor.clock) {
              monitor.clock = &timers_.clock();
          }
          return monitor;
      }()) {}

MicAutoDetectionCoordinator::MicAutoDetectionCoordinator() : MicAutoDetectionCoordinator(Dependencies{}) {}

MicAutoDetectionCoordinator::~MicAutoDetectionCoordinator() {
    alive_.reset();
    promptTimer_.cancel();
    monitor_.stopMonitoring();
}

void MicAutoDetectionCoordinator::setup() {
    const auto onMain =
        [this, alive = std::weak_ptr<bool>(alive_)](void (MicAutoDetectionCoordinator::*handler)()) {
            return [this, alive, handler] {
                main_.post([this, alive, handler] {
                    if (!alive.expired()) {
                        (this->*handler)();
                    }
                });
            };
        };
    monitor_.onMicUsageStarted = onMain(&MicAutoDetectionCoordinator::handleUsageStarted);
    monitor_.onMicUsageStopped = onMain(&MicAutoDetectionCoordinator::handleUsageStopped);
    if (isEnabled()) {
        startMonitoring();
    }
}

bool MicAutoDetectionCoordinator::isEnabled() const {
    const auto key = rawValue(UserDefaultsKey::enableAutoMicDetection);
    return !settings_.object(key) || settings_.boolean(key);
}

void MicAutoDetectionCoordinator::startMonitoring() {
    if (isMonitorActive_) {
        return;
    }
    try {
        monitor_.startMonitoring();
        isMonitorActive_ = true;
        audioLog().info("auto mic detection enabled");
    } catch (const std::exception& e) {
        audioLog().error("failed to start mic usage monitor: {}", e.what());
    }
}

void MicAutoDetectionCoordinator::stopMonitoring() {
    if (!isMonitorActive_) {
        return;
    }
    monitor_.stopMonitoring();
    isMonitorActive_ = false;
    audioLog().info("auto mic detection disabled");
    if (isShowingPrompt_) {
        cancelActivePrompt();
    }
}

bool MicAutoDetectionCoordinator::inCooldown() const {
    return autoStoppedAt_ && timers_.clock().now() - *autoStoppedAt_ < kCooldownAfterAutoStop;
}

void MicAutoDetectionCoordinator::handleUsageStarted() {
    const bool cooling = inCooldown();
    audioLog().info("handleExternalMicUsageStarted recordingState={} isShowingPrompt={} inCooldown={}",
                    stateText(appState_.recordingState()), isShowingPrompt_, cooling);
    if (isShowingPrompt_ || appState_.recordingState().phase() != RecordingState::Phase::idle || cooling) {
        return;
    }
    showPrompt();
}

bool MicAutoDetectionCoordinator::runsPromptStartedRecording() const {
    return promptStartedSession_ && appState_.recordingState().phase() == RecordingState::Phase::recording &&
           appState_.activeSessionDir() == promptStartedSession_;
}

void MicAutoDetectionCoordinator::handleUsageStopped() {
    const bool autoStarted = runsPromptStartedRecording();
    audioLog().info("handleExternalMicUsageStopped recordingState={} autoStarted={} isShowingPrompt={}",
                    stateText(appState_.recordingState()), autoStarted, isShowingPrompt_);
    if (isShowingPrompt_) {
        if (!autoStarted) {
            cancelActivePrompt();
        }
        return;
    }
    if (!autoStarted) {
        // The recording the prompt started ended some other way: the next one is not ours.
        if (promptStartedSession_ && appState_.activeSessionDir() != promptStartedSession_) {
            promptStartedSession_.reset();
        }
        return;
    }
    audioLog().info("external mic usage stopped; auto-stopping Velnote recording");
    promptStartedSession_.reset();
    autoStoppedAt_ = timers_.clock().now();
    (controller_ ? *controller_ : AudioCaptureManager::shared()).stopRecording({});
}

void MicAutoDetectionCoordinator::showPrompt() {
    if (isShowingPrompt_) {
        return;
    }
    isShowingPrompt_ = true;
    const std::uint64_t number = ++promptNumber_;
    promptTimer_ = timers_.once(kPromptTimeout, main_, [this, alive = std::weak_ptr<bool>(alive_), number] {
        if (alive.expired() || number != promptNumber_ || !isShowingPrompt_) {
            return;
        }
        audioLog().info("mic usage prompt timed out");
        cancelActivePrompt();
    });
    const PromptAlertPresenter::Prompt prompt{
        .title = L10n::localized("L10n.App.micUsagePromptTitle", "Microphone in use"),
        .message = L10n::localized("L10n.App.micUsagePromptMessage",
                                   "Another app started using the microphone. Start recording in Velnote?"),
        .confirmTitle = L10n::localized("L10n.App.micUsagePromptConfirmStart", "Start Recording"),
        .cancelTitle = L10n::localized("L10n.Common.cancel", "Cancel"),
    };
    presenter_->showPrompt(
        prompt, [this, alive = std::weak_ptr<bool>(alive_), number](PromptAlertPresenter::Response response) {
            if (!alive.expired()) {
                answer(number, response);
            }
        });
}

void MicAutoDetectionCoordinator::answer(std::uint64_t prompt, PromptAlertPresenter::Response response) {
    if (prompt != promptNumber_ || !isShowingPrompt_) {
        return;
    }
    promptTimer_.cancel();
    isShowingPrompt_ = false;
    if (response == PromptAlertPresenter::Response::confirmed) {
        confirm();
    }
}

void MicAutoDetectionCoordinator::confirm() {
    (controller_ ? *controller_ : AudioCaptureManager::shared())
        .startRecording(
            [this, alive = std::weak_ptr<bool>(alive_)](std::optional<std::filesystem::path> started) {
                if (!alive.expired() && started) {
                    promptStartedSession_ = std::move(started);
                }
            });
}

void MicAutoDetectionCoordinator::cancelActivePrompt() {
    promptTimer_.cancel();
    if (isShowingPrompt_) {
        presenter_->dismissPrompt(); // answers `cancelled`
    }
    isShowingPrompt_ = false;
}

} // namespace velnote
