#include "app/shell/MenuActions.h"
#include "app/shell/support/ShellFakes.h"
#include "app/state/support/AppStateFixture.h"
#include "support/ChildProcess.h"
#include "support/QtTestApp.h"
#include "ui/shell/MenuBarController.h"

#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QSet>
#include <QWidget>
#include <gtest/gtest.h>

namespace velnote {
namespace {
using Lines = std::vector<std::string>;

// The menu as a list of lines: "-" for a separator, "(hidden)" and "(disabled)" marks, the
// shortcut after a tab.
Lines describe(const QMenu& menu) {
    Lines lines;
    for (const QAction* item : menu.actions()) {
        std::string line = item->isSeparator() ? "-" : item->text().toStdString();
        if (!item->shortcut().isEmpty()) {
            line += "\t" + item->shortcut().toString().toStdString();
        }
        if (!item->isVisible()) {
            line += " (hidden)";
        } else if (!item->isEnabled()) {
            line += " (disabled)";
        }
        lines.push_back(line);
    }
    return lines;
}

class MenuBarControllerGuiTest : public testing::AppStateFixture {
  protected:
    void SetUp() override { testing::qtTestApp(); }

    MenuBarController& menuBar() {
        if (!menuBar_) {
            actions_ = std::make_unique<MenuActions>(MenuActions::Dependencies{
                .appState = &state(),
                .recorder = &recorder_,
                .windows = &windows_,
                .configForNewRecording = [] { return SessionConfig{}; },
                .apiKeyPresent = [](SummaryProvider) { return true; },
                .workingSessionsDir = {},
                .savedSessionsDir = {},
                .openFolder = {},
            });
            menuBar_ = std::make_unique<MenuBarController>(MenuBarController::Dependencies{
                .appState = &state(),
                .mainDispatcher = &main_,
                .actions = actions_.get(),
                .quit = [this] { calls_.add("quit"); },
                .notificationsDenied = [this] { return notificationsDenied_.load(); },
                .background = &pool_,
            });
            menuBar_->setup();
        }
        return *menuBar_;
    }

    testing::Calls calls_;
    testing::FakeRecorder recorder_{calls_};
    ShellWindows windows_ = testing::fakeWindows(calls_);
    std::atomic<bool> notificationsDenied_{false};
    std::unique_ptr<MenuActions> actions_;
    std::unique_ptr<MenuBarController> menuBar_;
};

TEST_F(MenuBarControllerGuiTest, TheMenuListsEveryItemInOrder) {
    if (std::getenv("VELNOTE_TEST_JAPANESE") != nullptr) {
        GTEST_SKIP() << "the Japanese run checks only the Japanese titles";
    }
    state().setStatusMessage("Waiting for processing...");
    MenuBarController& controller = menuBar();
    EXPECT_EQ(
        describe(*controller.menu()),
        (Lines{"Waiting for processing... (disabled)", "⚠️ Notifications Disabled (hidden)", "-",
               "Start Recording\tCtrl+R", "-", "Preferences...", "User Dictionary...",
               "Hallucination Filter...", "Model Management...", "Session Status...", "Open Folder\tCtrl+O",
               "About Hushtape...", "- (hidden)", "Open Windows (hidden)", "-", "Quit\tCtrl+Q"}));
    const QMenu* folders = controller.menu()->actions()[10]->menu();
    ASSERT_NE(folders, nullptr);
    EXPECT_EQ(describe(*folders), (Lines{"Working Sessions", "Saved Sessions"}));

    // The status line follows the state.
    state().setStatusMessage("Recording...");
    EXPECT_EQ(controller.statusLabelItem()->text().toStdString(), "Recording...");

    // Each item reaches its action.
    for (int index : {3, 5, 6, 7, 8, 9, 11, 15}) {
        controller.menu()->actions()[index]->trigger();
    }
    EXPECT_EQ(calls_.take(), (Lines{"start recording", "show preferences", "show user dictionary",
                                    "show hallucination filter", "show model management",
                                    "show session monitor", "show about", "quit"}));
}

TEST_F(MenuBarControllerGuiTest, TheRecordItemAndTheIconFollowTheRecordingState) {
    if (std::getenv("VELNOTE_TEST_JAPANESE") != nullptr) {
        GTEST_SKIP();
    }
    struct Case {
        RecordingState state;
        const char* title;
        bool enabled;
        const char* symbol;
    };
    MenuBarController& controller = menuBar();
    for (const Case& c : {Case{RecordingState::starting(), "Starting...", false, "hourglass"},
                          Case{RecordingState::recording(), "Stop Recording", true, "stop.circle.fill"},
                          Case{RecordingState::stopping(), "Stopping...", false, "hourglass"},
                          Case{RecordingState::error("disk full"), "Error", false, "exclamationmark.circle"},
                          Case{RecordingState::idle(), "Start Recording", true, "mic"}}) {
        state().setRecordingState(c.state);
        EXPECT_EQ(controller.recordToggleItem()->text().toStdString(), c.title);
        EXPECT_EQ(controller.recordToggleItem()->isEnabled(), c.enabled) << c.title;
        EXPECT_STREQ(controller.statusSymbol(), c.symbol);
        EXPECT_FALSE(controller.statusItem()->icon().isNull());
    }
}

TEST_F(MenuBarControllerGuiTest, TheTitlesAreJapaneseInAJapaneseSession) {
    if (std::getenv("VELNOTE_TEST_JAPANESE") == nullptr) {
        // The interface language is fixed per process: check it in a child run in Japanese.
        testing::ScopedEnv language("LANG", "ja_JP.UTF-8");
        testing::ScopedEnv marker("VELNOTE_TEST_JAPANESE", "1");
        testing::ChildProcess child({"/proc/self/exe", "--gtest_filter=MenuBarControllerGuiTest.*Japanese*"});
        EXPECT_EQ(child.wait(), 0);
        return;
    }
    MenuBarController& controller = menuBar();
    const Lines lines = describe(*controller.menu());
    EXPECT_EQ(lines[3], "録音開始\tCtrl+R");
    EXPECT_EQ(lines[5], "環境設定...");
    EXPECT_EQ(lines[10], "フォルダを開く\tCtrl+O");
    EXPECT_EQ(lines[15], "終了\tCtrl+Q");
    state().setRecordingState(RecordingState::starting());
    EXPECT_EQ(controller.recordToggleItem()->text().toStdString(), "開始中...");
    state().setRecordingState(RecordingState::recording());
    EXPECT_EQ(controller.recordToggleItem()->text().toStdString(), "録音停止");
}

TEST_F(MenuBarControllerGuiTest, OpeningTheMenuListsTheVisibleTitledWindowsByTitle) {
    if (std::getenv("VELNOTE_TEST_JAPANESE") != nullptr) {
        GTEST_SKIP();
    }
    MenuBarController& controller = menuBar();
    auto lower = std::make_unique<QWidget>();
    lower->setWindowTitle("session Status");
    auto upper = std::make_unique<QWidget>();
    upper->setWindowTitle("Session Status");
    auto hidden = std::make_unique<QWidget>();
    hidden->setWindowTitle("Hidden");
    auto untitled = std::make_unique<QWidget>();
    auto frameless = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    frameless->setWindowTitle("Panel");
    for (QWidget* w : {lower.get(), upper.get(), untitled.get(), frameless.get()}) {
        w->show();
    }

    controller.menuWillOpen();
    Lines lines = describe(*controller.menu());
    EXPECT_EQ(Lines(lines.begin() + 12, lines.end()), (Lines{"-", "Open Windows (disabled)", "Session Status",
                                                             "session Status", "-", "Quit\tCtrl+Q"}));
    const QList<QAction*> items = controller.menu()->actions();
    EXPECT_EQ(items[14]->property("tag").toInt(), 910);
    EXPECT_EQ(items[15]->property("tag").toInt(), 911);

    // An item whose window has gone does nothing; the next opening lists what is left.
    QAction* goneItem = items[14];
    upper.reset();
    goneItem->trigger();
    controller.menuWillOpen();
    lines = describe(*controller.menu());
    EXPECT_EQ(Lines(lines.begin() + 12, lines.end()),
              (Lines{"-", "Open Windows (disabled)", "session Status", "-", "Quit\tCtrl+Q"}));

    lower->close();
    untitled->close();
    frameless->close();
    controller.menuWillOpen();
    lines = describe(*controller.menu());
    EXPECT_EQ(Lines(lines.begin() + 12, lines.end()),
              (Lines{"- (hidden)", "Open Windows (hidden)", "-", "Quit\tCtrl+Q"}));
}

TEST_F(MenuBarControllerGuiTest, TheNotificationWarningShowsWhileNotificationsCannotBeShown) {
    if (std::getenv("VELNOTE_TEST_JAPANESE") != nullptr) {
        GTEST_SKIP();
    }
    MenuBarController& controller = menuBar();
    notificationsDenied_ = true;
    controller.menuWillOpen();
    ASSERT_TRUE(main_.runUntil([&] { return controller.notificationWarningItem()->isVisible(); },
                               std::chrono::seconds(5)));
    controller.notificationWarningItem()->trigger();
    EXPECT_EQ(calls_.take(), (Lines{"show preferences"}));

    notificationsDenied_ = false;
    controller.menuWillOpen();
    EXPECT_TRUE(main_.runUntil([&] { return !controller.notificationWarningItem()->isVisible(); },
                               std::chrono::seconds(5)));
}

TEST_F(MenuBarControllerGuiTest, TheTrayIconShowsAndItsMenuIsDrawnOnScreen) {
    if (std::getenv("VELNOTE_TEST_JAPANESE") != nullptr) {
        GTEST_SKIP();
    }
    if (!testing::hasDisplay()) {
        GTEST_SKIP() << "needs the display and tray host of scripts/test-services";
    }
    ASSERT_TRUE(testing::processEventsUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    MenuBarController& controller = menuBar();
    EXPECT_TRUE(controller.statusItem()->isVisible());

    QMenu& menu = *controller.menu();
    menu.popup(QPoint(200, 150));
    ASSERT_TRUE(testing::processEventsUntil([&] { return menu.isVisible(); }));
    testing::processEventsUntil([] { return false; }, std::chrono::milliseconds(300)); // drawn
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(0, menu.x(), menu.y(), menu.width(), menu.height())
                            .toImage();
    const std::string file = ::testing::TempDir() + "velnote-tray-menu.png";
    shot.save(QString::fromStdString(file));
    ASSERT_FALSE(shot.isNull());

    // Not blank: a background plus the darker pixels of the item texts.
    QSet<QRgb> colours;
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb pixel = shot.pixel(x, y);
            colours.insert(pixel);
            dark += qGray(pixel) < 100 ? 1 : 0;
        }
    }
    EXPECT_GT(colours.size(), 8) << file;
    EXPECT_GT(dark, 200) << file;

    // Driving the menu as the user does: the record item starts a recording.
    menu.setActiveAction(controller.recordToggleItem());
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&menu, &enter);
    testing::processEventsUntil([&] { return !menu.isVisible(); });
    EXPECT_EQ(calls_.take(), (Lines{"start recording"}));
}

} // namespace
} // namespace velnote
