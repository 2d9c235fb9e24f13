#include "app/shell/AppDelegate.h"

#include "platform/settings/SettingsValue.h"
#include "session/VelnoteLogger.h"
#include "session/l10n/L10n.h"
#include "session/settings/UserDefaultsKey.h"

#include <string>

namespace velnote {

AppDelegate::AppDelegate(Dependencies d)
    : dependencies_(std::move(d)),
      appState_(dependencies_.appState ? *dependencies_.appState : AppState::shared()),
      main_(dependencies_.mainDispatcher ? *dependencies_.mainDispatcher
                                         : platform::MainDispatcher::shared()),
      settings_(dependencies_.settings ? *dependencies_.settings : platform::SettingsStore::standard()) {}

AppDelegate::~AppDelegate() {
    alive_.reset();
    settingsToken_.reset();
}

bool AppDelegate::applicationDidFinishLaunching() {
    Application& application = *dependencies_.application;
    MicDetection& micDetection = *dependencies_.micDetection;

    if (!dependencies_.acquireSingleInstanceLock()) {
        VelnoteLogger::app().info("another instance is running: activating it and quitting");
        dependencies_.activateRunningInstance();
        application.terminate();
        return false;
    }
    // The direct flavour's software updater has no counterpart here: there is none to start.
    settings_.registerDefaults({
        {std::string(rawValue(UserDefaultsKey::outputLanguage)),
         platform::SettingsValue(L10n::defaultLanguageCode())},
        {std::string(rawValue(UserDefaultsKey::enableVoiceProcessing)), platform::SettingsValue(true)},
    });
    application.setAccessoryActivationPolicy();
    application.installMainMenu();
    dependencies_.applyLaunchAtLogin(settings_.boolean(rawValue(UserDefaultsKey::launchAtLogin)));
    dependencies_.setupMenuBar();
    dependencies_.attachRecordingWindow();
    micDetection.setup();
    observeSettings();
    if (micDetection.isEnabled() && micDetection.currentInputDeviceIsRunning() &&
        appState_.recordingState() == RecordingState::idle()) {
        // A meeting already under way at launch: offer the recording once the launch is over.
        // Asking again does nothing while monitoring already runs.
        main_.post([&micDetection, alive = std::weak_ptr<bool>(alive_)] {
            if (!alive.expired()) {
                micDetection.startMonitoring();
            }
        });
    }
    main_.post([this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.expired()) {
            dependencies_.startProcessingQueue();
        }
    });
    dependencies_.scheduleNightlyBatch();
    dependencies_.cleanupExpiredSessions();
    main_.post([this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.expired()) {
            dependencies_.trimSpeechCache();
        }
    });
    dependencies_.setupUserNotifications();
    return true;
}

void AppDelegate::observeSettings() {
    const std::string micKey(rawValue(UserDefaultsKey::enableAutoMicDetection));
    const std::string nightlyKey(rawValue(UserDefaultsKey::nightlyBatch));
    const std::string nightlyHourKey(rawValue(UserDefaultsKey::nightlyBatchHour));
    // Changes come on the writer's thread; the reactions belong to the main thread.
    settingsToken_ =
        settings_.observe([=, this, alive = std::weak_ptr<bool>(alive_)](const std::string& key) {
            if (key == micKey) {
                main_.post([this, alive] {
                    if (!alive.expired()) {
                        handleMicDetectionSettingChanged();
                    }
                });
            } else if (key == nightlyKey || key == nightlyHourKey) {
                main_.post([this, alive] {
                    if (!alive.expired()) {
                        handleNightlyBatchSettingsChanged();
                    }
                });
            }
        });
}

void AppDelegate::handleMicDetectionSettingChanged() {
    MicDetection& micDetection = *dependencies_.micDetection;
    if (micDetection.isEnabled()) {
        micDetection.startMonitoring();
    } else {
        micDetection.stopMonitoring();
    }
}

void AppDelegate::handleNightlyBatchSettingsChanged() {
    dependencies_.scheduleNightlyBatch();
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate() {
    if (appState_.recordingState() == RecordingState::idle()) {
        return TerminateReply::now;
    }
    if (!quitting_) {
        // A second quit request while the first still stops the recording waits for the same end.
        quitting_ = true;
        dependencies_.stopRecordingForQuit([this, alive = std::weak_ptr<bool>(alive_)] {
            if (!alive.expired()) {
                dependencies_.application->replyToTerminate();
            }
        });
    }
    return TerminateReply::later;
}

void AppDelegate::applicationWillTerminate() {
    dependencies_.micDetection->willTerminate();
    dependencies_.stopNightlyTimer();
}

bool AppDelegate::applicationShouldHandleReopen() {
    dependencies_.application->reopenWindows();
    return true;
}

} // namespace velnote
