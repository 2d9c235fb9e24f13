#include "app/Shell.h"

#include "app/ServiceInstalls.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/CompletionNotificationRouter.h"
#include "app/shell/FolderErrorReporting.h"
#include "app/shell/InstanceActivation.h"
#include "app/shell/LaunchAtLoginManager.h"
#include "app/shell/MenuActions.h"
#include "app/shell/NotificationPermission.h"
#include "app/shell/SingleInstanceLock.h"
#include "capture/autodetect/MicAutoDetectionCoordinator.h"
#include "capture/controller/AudioCaptureManager.h"
#include "capture/controls/AudioMuteState.h"
#include "capture/controls/RecordingRuntimeSettings.h"
#include "context/ocr/OCRService.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/fs/AppFolders.h"
#include "platform/fs/Files.h"
#include "platform/notifications/FreedesktopNotificationCenter.h"
#include "processing/queue/ProcessingQueue.h"
#include "processing/sessions/NightlyBatchScheduler.h"
#include "processing/sessions/SessionListController.h"
#include "session/VelnoteLogger.h"
#include "session/folder/SessionDirectoryResolver.h"
#include "speech/cache/SpeechResultCache.h"
#include "ui/recording/RecordingFloatingWindowController.h"
#include "ui/shell/MenuBarController.h"
#include "ui/shell/MicDetectionAdapter.h"
#include "ui/shell/QtApplicationHost.h"
#include "ui/shell/QtErrorAlertPresenter.h"
#include "ui/shell/QtMainLoop.h"
#include "ui/shell/QtPromptAlertPresenter.h"
#include "ui/shell/UnixSignalQuit.h"

#include <QApplication>
#include <exception>
#include <future>
#include <memory>

namespace velnote {
namespace fs = std::filesystem;

namespace {

// A process-wide object the state only borrows.
template <class Base, class T> std::shared_ptr<Base> borrowed(T& object) {
    return std::shared_ptr<Base>(&object, [](Base*) {});
}

// Microphone auto-detection whose coordinator (and its sound-server monitor) is made only once
// the launch has got past the instance lock.
class LazyMicDetection final : public AppDelegate::MicDetection {
  public:
    void setup() override {
        MicAutoDetectionCoordinator::Dependencies dependencies;
        dependencies.presenter = std::make_shared<QtPromptAlertPresenter>();
        coordinator_ = std::make_unique<MicAutoDetectionCoordinator>(std::move(dependencies));
        adapter_ = std::make_unique<MicDetectionAdapter>(*coordinator_);
        adapter_->setup();
    }
    void startMonitoring() override {
        if (adapter_) {
            adapter_->startMonitoring();
        }
    }
    void stopMonitoring() override {
        if (adapter_) {
            adapter_->stopMonitoring();
        }
    }
    bool isEnabled() const override { return adapter_ && adapter_->isEnabled(); }
    bool currentInputDeviceIsRunning() override {
        return adapter_ && adapter_->currentInputDeviceIsRunning();
    }
    void willTerminate() override {
        if (adapter_) {
            adapter_->willTerminate();
        }
    }

  private:
    std::unique_ptr<MicAutoDetectionCoordinator> coordinator_;
    std::unique_ptr<MicDetectionAdapter> adapter_;
};

void startProcessingQueue(SessionListController& sessions) {
    const fs::path working = SessionDirectoryResolver::resolveWorkingDir();
    try {
        platform::createDirectories(working);
        SessionDirectoryResolver::applyFileProtection(working);
    } catch (const std::exception& e) {
        VelnoteLogger::processing().error("failed to create working directory: {}", e.what());
    }
    sessions.install();
    auto started = std::make_shared<std::future<void>>(
        ProcessingQueue::shared().start(working, [] { return SessionDirectoryResolver::resolveUserDir(); }));
    platform::ThreadPool::shared().executor(platform::Priority::utility).post([started, working] {
        started->wait();
        VelnoteLogger::processing().info("ProcessingQueue started baseDir={}", working.string());
    });
}

void trimSpeechCache() {
    // File work: on the pool, so the first menu opening never waits for it.
    platform::ThreadPool::shared().executor(platform::Priority::background).post([] {
        try {
            SpeechResultCache().enforceCacheSizeLimit(AppDelegate::kSpeechCacheLimitBytes);
        } catch (const std::exception& e) {
            VelnoteLogger::processing().error("speech cache not trimmed: {}", e.what());
        }
    });
}

void requestNotificationAuthorization() {
    platform::ThreadPool::shared().executor(platform::Priority::utility).post([] {
        VelnoteLogger::processing().info("notification authorization granted={}",
                                         NotificationPermission::isAuthorized());
    });
}

} // namespace

int runShell(QApplication& application) {
    platform::MainDispatcher& main = platform::MainDispatcher::shared();
    bindMainDispatcherToQt(application, main);

    AppState& state = AppState::shared();
    state.setErrorAlertPresenter(std::make_shared<QtErrorAlertPresenter>());
    state.setSharedMuteFlags(borrowed<SharedMuteFlags>(AudioMuteState::shared()));
    state.setSharedInputGains(borrowed<SharedInputGains>(RecordingRuntimeSettings::shared()));
    SessionDirectoryResolver::setErrorReporter(savedSessionsFolderErrorReporter(state, main));

    ShellWindows windows = ShellWindows::standIns();
    RecordingServices recordingServices;
    QtApplicationHost host;
    LazyMicDetection micDetection;
    // Never destroyed, like the processing queue whose completion notifier posts through it.
    auto& notifications = *new platform::FreedesktopNotificationCenter(main);
    std::unique_ptr<SessionListController> sessions;
    std::unique_ptr<NightlyBatchScheduler> nightly;
    std::unique_ptr<MenuActions> menuActions;
    std::unique_ptr<MenuBarController> menuBar;
    std::unique_ptr<InstanceActivation> activation;
    CompletionNotificationRouter router({.windows = &windows});
    AppDelegate* delegatePointer = nullptr;

    // Everything past the instance lock is made in the step that first needs it, so a second
    // launch builds none of it.
    const auto recorder = [&recordingServices]() -> AudioCaptureManager& {
        static AudioCaptureManager& manager = [&]() -> AudioCaptureManager& {
            AudioCaptureManager& shared = AudioCaptureManager::shared();
            shared.installServices(recordingServices);
            return shared;
        }();
        return manager;
    };
    const auto sessionList = [&]() -> SessionListController& {
        if (!sessions) {
            SessionListController::Dependencies dependencies;
            dependencies.notifications = &notifications;
            sessions =
                std::make_unique<SessionListController>(ProcessingQueue::shared(), std::move(dependencies));
        }
        return *sessions;
    };
    ServiceInstallContext installs{recordingServices, windows, sessionList};
    installServices(installs);

    AppDelegate delegate({
        .application = &host,
        .micDetection = &micDetection,
        .acquireSingleInstanceLock =
            [&] {
                if (!SingleInstanceLock::acquire(platform::applicationSupportDirectory())) {
                    return false;
                }
                try {
                    activation = std::make_unique<InstanceActivation>(main, [&delegatePointer] {
                        if (delegatePointer != nullptr) {
                            delegatePointer->applicationShouldHandleReopen();
                        }
                    });
                } catch (const std::exception& e) {
                    VelnoteLogger::app().error("later launches cannot reach this one: {}", e.what());
                }
                return true;
            },
        .activateRunningInstance = [] { InstanceActivation::activateRunningInstance(); },
        .applyLaunchAtLogin = [](bool enabled) { LaunchAtLoginManager::apply(enabled); },
        .setupMenuBar =
            [&] {
                menuActions = std::make_unique<MenuActions>(MenuActions::Dependencies{
                    .recorder = &recorder(),
                    .windows = &windows,
                    .configForNewRecording =
                        [] {
                            return SessionConfig::fromUserDefaults(
                                OCRService::supportedVisionRecognitionLanguages());
                        },
                });
                menuBar = std::make_unique<MenuBarController>(MenuBarController::Dependencies{
                    .actions = menuActions.get(),
                    .quit = [&host] { host.terminate(); },
                    .notificationsDenied = [] { return !NotificationPermission::isAuthorized(); },
                });
                menuBar->setup();
            },
        // The recording panel follows the recording state by itself; `windows` keeps it alive.
        .attachRecordingWindow =
            [&] { windows.recordingWindow = std::make_shared<RecordingFloatingWindowController>(); },
        .startProcessingQueue = [&] { startProcessingQueue(sessionList()); },
        .scheduleNightlyBatch =
            [&] {
                if (!nightly) {
                    nightly = std::make_unique<NightlyBatchScheduler>(sessionList().nightlyBatchAction());
                }
                nightly->schedule();
            },
        .cleanupExpiredSessions = [&] { recorder().cleanupExpiredSessions(); },
        .trimSpeechCache = trimSpeechCache,
        .setupUserNotifications =
            [&] {
                router.setup(notifications);
                requestNotificationAuthorization();
            },
        .stopRecordingForQuit =
            [&](std::function<void()> done) { recorder().stopRecordingForQuit(std::move(done)); },
        .stopNightlyTimer = [&] { nightly.reset(); },
    });
    delegatePointer = &delegate;
    host.setDelegate(&delegate);
    UnixSignalQuit signalQuit([&host] { host.terminate(); });

    delegate.applicationDidFinishLaunching();
    const int status = application.exec();
    // Jobs posted from now on (by threads still winding down) are kept, never run.
    main.setPoster({});
    host.setDelegate(nullptr);
    notifications.setResponseHandler({}); // the router goes with this function
    // The processing queue lives until the process ends and may still call its hooks: they stay.
    static_cast<void>(sessions.release());
    return status;
}

} // namespace velnote
