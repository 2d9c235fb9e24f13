#include "ui/settings/SettingsWindows.h"

#include "app/shell/LaunchAtLoginManager.h"
#include "app/state/AppState.h"
#include "capture/controller/AudioCaptureManager.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/concurrency/TimerScheduler.h"
#include "platform/flavor/BuildFlavor.h"
#include "session/VelnoteLogger.h"
#include "ui/settings/DesktopPermissionProbe.h"
#include "ui/settings/PreferencesWindowController.h"
#include "ui/settings/SessionSettingsWindowController.h"

#include <QFileDialog>

namespace velnote {
namespace {

// The store flavour offers no command-line tools; any other flavour, or none set, does.
bool supportsCLIProviders() {
    return BuildFlavor::testOverride() != BuildFlavorType::appStore;
}

PreferencesEnvironment preferencesEnvironment(const SettingsWindowServices& services) {
    PreferencesEnvironment environment;
    environment.defaults = &platform::SettingsStore::standard();
    environment.enumerateDisplays = services.enumerateDisplays;
    environment.presentError = [](const std::string& message) {
        AppState::shared().presentError(message, false);
    };
    environment.applyLaunchAtLogin = [](bool enabled) { LaunchAtLoginManager::apply(enabled); };
    environment.updateForegroundActivityTracking = [](bool enabled) {
        AudioCaptureManager::shared().updateForegroundActivityTracking(enabled);
    };
    // The shell follows these settings in the store itself; the announcement is only logged.
    environment.postNotification = [](const std::string& name) {
        VelnoteLogger::app().info("settings changed: {}", name);
    };
    environment.chooseDirectory = []() -> std::optional<std::filesystem::path> {
        const QString folder =
            QFileDialog::getExistingDirectory(nullptr, QString(), QString(), QFileDialog::ShowDirsOnly);
        if (folder.isEmpty()) {
            return std::nullopt;
        }
        return std::filesystem::path(folder.toStdString());
    };
    environment.permissions = std::make_shared<DesktopPermissionProbe>(
        platform::ThreadPool::shared().executor(platform::Priority::utility),
        platform::MainDispatcher::shared());
    environment.supportsCLIProviders = supportsCLIProviders();
    return environment;
}

SessionSettingsEnvironment sessionEnvironment(const SettingsWindowServices& services) {
    SessionSettingsEnvironment environment;
    environment.defaults = &platform::SettingsStore::standard();
    environment.activeConfig = [] { return AppState::shared().activeSessionConfig(); };
    environment.mutateActiveSessionConfig = [](const std::function<void(SessionConfig&)>& edit) {
        return AppState::shared().mutateActiveSessionConfig(edit);
    };
    environment.updateInputLanguage = services.updateInputLanguage;
    environment.updateLiveSummaryOutputLanguage = services.updateLiveSummaryOutputLanguage;
    environment.updateLiveSummaryProvider = services.updateLiveSummaryProvider;
    environment.updateScreenshotEnabled = [](bool enabled) {
        AudioCaptureManager::shared().updateScreenshotEnabled(enabled);
    };
    environment.updateForegroundActivityTracking = [](bool enabled) {
        AudioCaptureManager::shared().updateForegroundActivityTracking(enabled);
    };
    environment.changeScreenshotDisplay = [](std::int64_t index) {
        AppState::shared().changeScreenshotDisplay(index);
    };
    environment.enumerateDisplays = services.enumerateDisplays;
    environment.supportsCLIProviders = supportsCLIProviders();
    return environment;
}

} // namespace

void installSettingsWindows(ShellWindows& windows, SettingsWindowServices services) {
    windows.preferences = std::make_shared<PreferencesWindowController>([services] {
        PreferencesWindow::Services windowServices;
        windowServices.timers = &platform::TimerScheduler::shared();
        windowServices.main = &platform::MainDispatcher::shared();
        windowServices.openSettingsPane = [](PermissionKind kind) {
            return SettingsPaneOpener(launchDetached).open(kind);
        };
        return std::make_unique<PreferencesWindow>(preferencesEnvironment(services),
                                                   std::move(windowServices));
    });
    SessionSettingsWindowController::setShared(
        std::make_shared<SessionSettingsWindowController>(AppState::shared(), [services] {
            return std::make_unique<SessionSettingsWindow>(sessionEnvironment(services), AppState::shared());
        }));
}

} // namespace velnote
