#pragma once

#include "app/shell/MenuActions.h"
#include "app/state/AppState.h"
#include "platform/concurrency/Executor.h"
#include "platform/concurrency/MainDispatcher.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <vector>

namespace velnote {

// The tray icon and its menu, the user's main entry to the program: the status line, the record
// toggle, every window, the two session folders, the list of open windows, and Quit. Built once
// by setup() and kept for the life of the process; only titles, enabled and hidden flags and the
// window items change afterwards. Main thread only.
//
// Desktops without a tray host show no icon (Qt reports none); the menu still exists and the
// application keeps running, reachable through a second launch.
class MenuBarController {
  public:
    struct Dependencies {
        AppState* appState = nullptr;                       // AppState::shared()
        platform::MainDispatcher* mainDispatcher = nullptr; // MainDispatcher::shared()
        MenuActions* actions = nullptr;                     // required
        // Asks the application to quit (through the delegate's quit path). Required.
        std::function<void()> quit{};
        // Whether notifications cannot be shown (no notification service). Runs on `background`;
        // empty = never denied.
        std::function<bool()> notificationsDenied{};
        platform::Executor* background = nullptr; // the shared pool at utility priority
    };

    // Window section tags, as the menu items carry them (QAction property "tag").
    static constexpr int kWindowSectionSeparatorTag = 901;
    static constexpr int kWindowSectionHeaderTag = 902;
    static constexpr int kWindowItemBaseTag = 910;

    explicit MenuBarController(Dependencies dependencies);
    ~MenuBarController();

    MenuBarController(const MenuBarController&) = delete;
    MenuBarController& operator=(const MenuBarController&) = delete;

    // Builds the tray icon and the menu, applies the recording state and the status line and keeps
    // following both.
    void setup();

    // What opening the menu does: lists the open windows, then checks the notification permission
    // (its answer shows or hides the warning item later).
    void menuWillOpen();

    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    QMenu* menu() const { return menu_.get(); }
    QAction* recordToggleItem() const { return recordToggleItem_; }
    QAction* statusLabelItem() const { return statusLabelItem_; }
    QAction* notificationWarningItem() const { return notificationWarningItem_; }
    // The drawing of the tray icon now ("mic", "hourglass", ...).
    const char* statusSymbol() const { return statusSymbol_; }

  private:
    void buildMenu();
    QAction* addItem(QMenu& menu, const char* key, const char* english, std::function<void()> action);
    void applyRecordingState();
    void rebuildWindowSection();
    void checkNotificationPermission();

    AppState& appState_;
    platform::MainDispatcher& main_;
    Dependencies dependencies_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    QAction* recordToggleItem_ = nullptr;
    QAction* statusLabelItem_ = nullptr;
    QAction* notificationWarningItem_ = nullptr;
    QAction* windowSectionSeparator_ = nullptr;
    QAction* windowSectionHeader_ = nullptr;
    const char* statusSymbol_ = "mic";
    AppState::ObservationToken stateToken_;
    AppState::ObservationToken statusToken_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace velnote
