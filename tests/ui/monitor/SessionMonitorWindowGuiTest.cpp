#include "app/state/support/AppStateFixture.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/l10n/L10n.h"
#include "ui/monitor/CloseSessionConfirmView.h"
#include "ui/monitor/MonitorWidgets.h"
#include "ui/monitor/SessionMonitorView.h"
#include "ui/monitor/SessionMonitorWindowController.h"
#include "ui/monitor/SessionRowWidget.h"
#include "ui/monitor/support/FakeSessionMonitorServices.h"
#include "ui/shell/QtMainLoop.h"
#include "ui/shell/support/QtTestApp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

namespace velnote {
namespace {
namespace fs = std::filesystem;

SessionStatusSnapshot snapshotAt(const fs::path& dir) {
    SessionStatusSnapshot s;
    s.id = dir;
    s.dirName = dir.filename().string();
    s.transcription.status = StepStatus::done;
    s.diarization.status = StepStatus::skipped;
    s.summary.status = StepStatus::done;
    s.config.transcription.whisperModel = "medium";
    return s;
}

class SessionMonitorWindowGuiTest : public testing::AppStateFixture {
  protected:
    void SetUp() override {
        bindMainDispatcherToQt(testing::qtTestApp());
        controller_ = std::make_unique<SessionMonitorWindowController>(SessionMonitorModel::Dependencies{
            .appState = &state(),
            .services = services_,
            .retry = {.settings = &settings_, .keychain = nullptr},
            .keychain = nullptr,
            .clock = &clock_,
            .openRetryDialog = {},
            .showSummary = [this](const SessionStatusSnapshot&,
                                  const SummaryVersion& v) { shown_.push_back(v); },
            .revealFolder = {},
        });
    }
    void TearDown() override {
        controller_.reset();
        QApplication::processEvents();
    }

    SessionMonitorView& view() { return *controller_->view(); }
    int page() { return view().content()->currentIndex(); }

    std::shared_ptr<testing::FakeSessionMonitorServices> services_ =
        std::make_shared<testing::FakeSessionMonitorServices>();
    std::unique_ptr<SessionMonitorWindowController> controller_;
    std::vector<SummaryVersion> shown_;
};

TEST_F(SessionMonitorWindowGuiTest, ShowsLoadingThenTheSectionedListAndKeepsItsStateWhenReopened) {
    controller_->show();
    EXPECT_EQ(view().windowTitle().toStdString(), "Session Status");
    EXPECT_EQ(page(), 0); // loading
    services_->finish("push");
    EXPECT_EQ(page(), 1); // no sessions

    auto saved = snapshotAt(dir_ / "2025-01-31T09-15-00Z");
    saved.isClosed = true;
    state().setSessionSnapshots({snapshotAt(dir_ / "2025-02-01T10-00-00Z"), saved});
    state().setProcessingSessionCount(1);
    QApplication::processEvents(); // widgets added to a shown window appear from the event loop
    EXPECT_EQ(page(), 2);
    ASSERT_NE(view().row(dir_ / "2025-02-01T10-00-00Z"), nullptr);
    std::vector<std::string> texts;
    for (QLabel* label : view().findChildren<QLabel*>())
        if (label->isVisibleTo(&view()))
            texts.push_back(label->text().toStdString());
    for (const char* expected : {"Working / Unsaved", "Saved Sessions", "1 items", "⟳ 1 processing", "Status",
                                 "Transcription Model", "Summary AI Provider"})
        EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;

    QTest::keyClicks(view().search(), "zzz");
    EXPECT_EQ(page(), 2); // filtered to nothing: an empty list, not the placeholder
    EXPECT_EQ(view().model().filteredSnapshots().size(), 0u);

    // Ctrl+W while active hides it; showing again keeps the search.
    view().activateWindow();
    testing::processEventsUntil([&] { return QApplication::activeWindow() == &view(); },
                                std::chrono::seconds(2));
    if (QApplication::activeWindow() == &view()) {
        QTest::keySequence(&view(), QKeySequence::Close);
        EXPECT_FALSE(view().isVisible());
    } else {
        view().close();
    }
    controller_->show();
    EXPECT_TRUE(view().isVisible());
    EXPECT_EQ(view().search()->text().toStdString(), "zzz");
    EXPECT_EQ(view().model().filters().freeText, "zzz");

    view().findChild<QPushButton*>("reset")->click();
    EXPECT_EQ(view().search()->text().toStdString(), "");
    EXPECT_EQ(view().model().filteredSnapshots().size(), 2u);
    const QImage shot = view().grab().toImage();
    EXPECT_GT(shot.width(), 0);
    std::set<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 4)
        for (int x = 0; x < shot.width(); x += 4)
            colours.insert(shot.pixel(x, y));
    EXPECT_GT(colours.size(), 8u) << "blank window";
}

TEST_F(SessionMonitorWindowGuiTest, RowButtonsFollowTheSessionAndStopRunsOnce) {
    state().setSessionSnapshots({});
    controller_->show();
    services_->finish("push");
    auto running = snapshotAt(dir_ / "r");
    running.isRunning = true;
    running.transcription.status = StepStatus::running;
    state().setSessionSnapshots({running});
    SessionRowWidget* row = view().row(dir_ / "r");
    ASSERT_NE(row, nullptr);
    const auto visible = [&](const char* name) {
        return row->findChild<QPushButton*>(name)->isVisibleTo(row);
    };
    EXPECT_TRUE(visible("stop"));
    for (const char* hidden : {"retry", "remove", "close", "delete", "open"})
        EXPECT_FALSE(visible(hidden)) << hidden;

    row->findChild<QPushButton*>("stop")->click();
    row->findChild<QPushButton*>("stop")->click();
    testing::processEventsUntil([&] { return services_->count("stop") > 0; });
    QApplication::processEvents();
    EXPECT_EQ(services_->count("stop"), 1u);
    EXPECT_FALSE(row->findChild<QPushButton*>("stop")->isEnabled());
    services_->finish("stop");
    EXPECT_TRUE(view().row(dir_ / "r")->findChild<QPushButton*>("stop")->isEnabled());
}

TEST_F(SessionMonitorWindowGuiTest, ExpandedRowShowsDetailsAndTheVersionMenu) {
    const fs::path dir = dir_ / "s";
    fs::create_directories(dir / "summary_versions");
    std::ofstream(dir / "summary.md") << "# now";
    std::ofstream(dir / "summary_versions" / "2025-01-01T00-00-00Z.md") << "# then";
    auto snapshot = snapshotAt(dir);
    snapshot.hasLock = true;
    snapshot.summary.error = " ";
    snapshot.summaryHeadline = "<b>Plan</b>";
    state().setExpandedSessionID(dir); // as a failure notification does before showing the window
    state().setSessionSnapshots({snapshot});
    controller_->show();
    SessionRowWidget* row = view().row(dir);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->model().expanded());
    EXPECT_FALSE(state().expandedSessionID()); // consumed
    ASSERT_TRUE(testing::processEventsUntil(
        [&] { return view().row(dir)->findChild<QToolButton*>("viewMenu")->isVisibleTo(view().row(dir)); }));
    row = view().row(dir);
    QMenu* menu = row->findChild<QToolButton*>("viewMenu")->menu();
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text().toStdString(),
              L10n::localized("L10n.SummaryVersion.latest", "最新"));
    menu->actions()[1]->trigger();
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_FALSE(shown_[0].isLatest);
    EXPECT_NE(row->findChild<QLabel*>("lockLine"), nullptr);
    auto* subtitle = row->findChild<QLabel*>("subtitle");
    EXPECT_EQ(subtitle->textFormat(), Qt::PlainText); // a headline is never read as markup
    EXPECT_EQ(subtitle->text().toStdString(), "<b>Plan</b>");
    row->toggleExpanded();
    EXPECT_FALSE(row->findChild<QWidget*>("details")->isVisibleTo(row));
}

TEST_F(SessionMonitorWindowGuiTest, LongTextsNeitherWidenTheWindowNorCutTheHeadlinesEnd) {
    auto snapshot = snapshotAt(dir_ / "long");
    snapshot.config.transcription.whisperModel =
        "large-v3-v20240930_626MB-converted-locally-with-a-long-name";
    std::string headline;
    for (int i = 0; i < 40; ++i)
        headline += "word" + std::to_string(i) + " ";
    snapshot.summaryHeadline = headline + "END";
    state().setSessionSnapshots({snapshot});
    controller_->show();
    EXPECT_LE(view().layout()->minimumSize().width(), 560);

    view().resize(1400, 480);
    auto* subtitle = dynamic_cast<ElidedLabel*>(view().row(dir_ / "long")->findChild<QLabel*>("subtitle"));
    ASSERT_NE(subtitle, nullptr);
    // The X server confirms the new size and the layout follows it asynchronously.
    const auto shownWidth = [&] { return subtitle->fontMetrics().horizontalAdvance(subtitle->shownText()); };
    EXPECT_TRUE(
        testing::processEventsUntil([&] { return shownWidth() > 400; })) // it uses the room the row has
        << shownWidth();
    const QString shown = subtitle->shownText();
    EXPECT_TRUE(shown.startsWith(QChar(0x2026))) << shown.toStdString(); // the beginning gives way
    EXPECT_TRUE(shown.endsWith(QStringLiteral("END"))) << shown.toStdString();
}

TEST_F(SessionMonitorWindowGuiTest, CloseSheetAndDeleteAlertAnswerThroughTheModel) {
    state().setSessionSnapshots({snapshotAt(dir_ / "a")});
    controller_->show();
    view().row(dir_ / "a")->findChild<QPushButton*>("close")->click();
    CloseSessionConfirmView* sheet = view().openCloseSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(sheet->deleteMediaOption()->isChecked());
    EXPECT_FALSE(sheet->note()->isVisibleTo(sheet));
    sheet->deleteMediaOption()->click();
    EXPECT_TRUE(sheet->note()->isVisibleTo(sheet));
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_EQ(services_->calls.back(), "close-media");
    QApplication::processEvents();
    EXPECT_EQ(view().openCloseSheet(), nullptr);

    // A second sheet starts with the option off again; Escape cancels.
    view().model().requestClose(snapshotAt(dir_ / "a"));
    ASSERT_NE(view().openCloseSheet(), nullptr);
    EXPECT_FALSE(view().openCloseSheet()->deleteMediaOption()->isChecked());
    QTest::keyClick(view().openCloseSheet(), Qt::Key_Escape);
    EXPECT_FALSE(view().model().closeTarget());
    EXPECT_EQ(services_->count("close"), 0u);

    services_->finish("close-media");
    view().row(dir_ / "a")->findChild<QPushButton*>("delete")->click();
    QMessageBox* alert = view().openAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text().toStdString(), "This will permanently delete a.");
    alert->button(QMessageBox::Cancel) ? alert->button(QMessageBox::Cancel)->click() : alert->reject();
    QApplication::processEvents();
    EXPECT_EQ(services_->count("delete"), 0u);
    EXPECT_FALSE(view().model().deleteConfirmation());
}

} // namespace
} // namespace velnote
