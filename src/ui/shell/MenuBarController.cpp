#include "ui/shell/MenuBarController.h"

#include "platform/concurrency/ThreadPool.h"
#include "session/l10n/L10n.h"
#include "ui/shell/AlertWindows.h"
#include "ui/shell/StatusIcons.h"

#include <QApplication>
#include <QKeySequence>
#include <QVariant>
#include <QWidget>
#include <algorithm>

namespace velnote {
namespace {

QString tr(const char* key, const char* english) {
    return QString::fromStdString(L10n::localized(key, english));
}

// The windows the menu lists: titled, visible, with a non-empty title; sorted by title, byte by
// byte (not by the locale's collation), ties kept in the application's order.
std::vector<QWidget*> listedWindows() {
    std::vector<QWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (isApplicationWindow(widget) && widget->isVisible() && !widget->windowTitle().isEmpty()) {
            windows.push_back(widget);
        }
    }
    std::stable_sort(windows.begin(), windows.end(), [](const QWidget* a, const QWidget* b) {
        return a->windowTitle().toStdString() < b->windowTitle().toStdString();
    });
    return windows;
}

} // namespace

MenuBarController::MenuBarController(Dependencies d)
    : appState_(d.appState ? *d.appState : AppState::shared()),
      main_(d.mainDispatcher ? *d.mainDispatcher : platform::MainDispatcher::shared()),
      dependencies_(std::move(d)) {
    if (!dependencies_.background) {
        dependencies_.background = &platform::ThreadPool::shared().executor(platform::Priority::utility);
    }
}

MenuBarController::~MenuBarController() {
    alive_.reset();
    stateToken_.reset();
    statusToken_.reset();
}

void MenuBarController::setup() {
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    statusItem_->setIcon(statusIcon(RecordingState::Phase::idle));
    statusItem_->setToolTip(QStringLiteral("Hushtape"));
    buildMenu();
    statusItem_->setContextMenu(menu_.get());
    // A left click opens the same menu: the tray icon has no other action.
    QObject::connect(statusItem_.get(), &QSystemTrayIcon::activated, menu_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && !menu_->isVisible()) {
                             menu_->popup(QCursor::pos());
                         }
                     });
    statusItem_->show();

    applyRecordingState();
    stateToken_ =
        appState_.observe(AppStateField::recordingState, [this](AppStateField) { applyRecordingState(); });
    statusLabelItem_->setText(QString::fromStdString(appState_.statusMessage()));
    statusToken_ = appState_.observe(AppStateField::statusMessage, [this](AppStateField) {
        statusLabelItem_->setText(QString::fromStdString(appState_.statusMessage()));
    });
    // The application's presence in the taskbar follows its titled windows by itself here: a
    // tray application has none until one of its windows opens, so there is no policy to switch.
}

QAction* MenuBarController::addItem(QMenu& menu, const char* key, const char* english,
                                    std::function<void()> action) {
    QAction* item = menu.addAction(tr(key, english));
    if (action) {
        QObject::connect(item, &QAction::triggered, item, [action = std::move(action)] { action(); });
    }
    return item;
}

void MenuBarController::buildMenu() {
    menu_ = std::make_unique<QMenu>();
    MenuActions& actions = *dependencies_.actions;
    QMenu& menu = *menu_;

    statusLabelItem_ = addItem(menu, "L10n.MenuBar.idle", "Idle", {});
    statusLabelItem_->setEnabled(false);
    notificationWarningItem_ =
        addItem(menu, "L10n.MenuBar.notificationsDenied", "⚠️ Notifications Disabled",
                [&actions] { actions.openPreferences(); });
    notificationWarningItem_->setVisible(false);
    menu.addSeparator();
    recordToggleItem_ = addItem(menu, "L10n.MenuBar.startRecording", "Start Recording",
                                [&actions] { actions.toggleRecording(); });
    recordToggleItem_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    menu.addSeparator();
    addItem(menu, "L10n.MenuBar.preferences", "Preferences...", [&actions] { actions.openPreferences(); });
    addItem(menu, "L10n.MenuBar.userDictionary", "User Dictionary...",
            [&actions] { actions.openUserDictionary(); });
    addItem(menu, "L10n.MenuBar.hallucinationFilter", "Hallucination Filter...",
            [&actions] { actions.openHallucinationFilter(); });
    addItem(menu, "L10n.MenuBar.modelManagement", "Model Management...",
            [&actions] { actions.openModelManagement(); });
    addItem(menu, "L10n.MenuBar.sessionStatus", "Session Status...",
            [&actions] { actions.openSessionMonitor(); });

    QMenu* folders = menu.addMenu(tr("L10n.Common.openFolder", "Open Folder"));
    folders->menuAction()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    addItem(*folders, "L10n.MenuBar.workingSessions", "Working Sessions",
            [&actions] { actions.openWorkingSessionsFolder(); });
    addItem(*folders, "L10n.MenuBar.savedSessions", "Saved Sessions",
            [&actions] { actions.openSavedSessionsFolder(); });

    // "Check for Updates..." belongs to the direct flavour's updater, which has no counterpart
    // here: the item is left out.
    addItem(menu, "L10n.MenuBar.about", "About Hushtape...", [&actions] { actions.openAbout(); });

    windowSectionSeparator_ = menu.addSeparator();
    windowSectionSeparator_->setProperty("tag", kWindowSectionSeparatorTag);
    windowSectionSeparator_->setVisible(false);
    windowSectionHeader_ = addItem(menu, "L10n.Menu.openWindows", "Open Windows", {});
    windowSectionHeader_->setProperty("tag", kWindowSectionHeaderTag);
    windowSectionHeader_->setEnabled(false);
    windowSectionHeader_->setVisible(false);
    menu.addSeparator();
    QAction* quit = addItem(menu, "L10n.MenuBar.quit", "Quit", dependencies_.quit);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QObject::connect(menu_.get(), &QMenu::aboutToShow, menu_.get(), [this] { menuWillOpen(); });
}

void MenuBarController::applyRecordingState() {
    const RecordingState& state = appState_.recordingState();
    statusSymbol_ = statusSymbolName(state.phase());
    statusItem_->setIcon(statusIcon(state.phase()));
    recordToggleItem_->setText(QString::fromStdString(state.menuTitle()));
    recordToggleItem_->setEnabled(state.phase() == RecordingState::Phase::idle ||
                                  state.phase() == RecordingState::Phase::recording);
}

void MenuBarController::menuWillOpen() {
    rebuildWindowSection();
    checkNotificationPermission();
}

void MenuBarController::rebuildWindowSection() {
    for (QAction* item : menu_->actions()) {
        if (item->property("tag").toInt() >= kWindowItemBaseTag) {
            menu_->removeAction(item);
            item->deleteLater();
        }
    }
    const std::vector<QWidget*> windows = listedWindows();
    windowSectionSeparator_->setVisible(!windows.empty());
    windowSectionHeader_->setVisible(!windows.empty());
    if (windows.empty()) {
        return;
    }
    const QList<QAction*> items = menu_->actions();
    const qsizetype headerIndex = items.indexOf(windowSectionHeader_);
    QAction* before = headerIndex + 1 < items.size() ? items[headerIndex + 1] : nullptr;
    for (std::size_t n = 0; n < windows.size(); ++n) {
        auto* item = new QAction(windows[n]->windowTitle(), menu_.get());
        item->setProperty("tag", kWindowItemBaseTag + static_cast<int>(n));
        // A weak reference: a window closed meanwhile makes the item do nothing.
        QPointer<QWidget> window(windows[n]);
        QObject::connect(item, &QAction::triggered, item, [window] {
            if (window) {
                window->showNormal();
                window->raise();
                window->activateWindow();
            }
        });
        menu_->insertAction(before, item);
    }
}

void MenuBarController::checkNotificationPermission() {
    if (!dependencies_.notificationsDenied) {
        notificationWarningItem_->setVisible(false);
        return;
    }
    dependencies_.background->post(
        [this, denied = dependencies_.notificationsDenied, alive = std::weak_ptr<bool>(alive_)] {
            const bool isDenied = denied();
            main_.post([this, isDenied, alive] {
                if (!alive.expired()) {
                    notificationWarningItem_->setVisible(isDenied);
                }
            });
        });
}

} // namespace velnote
