#include "app/state/AppState.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/fs/Files.h"
#include "platform/settings/SettingsStore.h"
#include "session/folder/SessionMetadataStore.h"
#include "session/folder/SummaryVersionStore.h"
#include "support/TempDir.h"
#include "ui/controls/ModelPickerField.h"
#include "ui/preview/ResummarizePanel.h"
#include "ui/preview/SummaryPreviewParts.h"
#include "ui/preview/SummaryPreviewView.h"
#include "ui/preview/SummaryPreviewWindowController.h"
#include "ui/preview/markdown/MarkdownPreviewWebView.h"
#include "ui/shell/QtMainLoop.h"
#include "ui/shell/support/QtTestApp.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class FakeQueue final : public ResummarizeQueue {
  public:
    std::future<void> retrySummaryOnly(const fs::path& sessionDir) override {
        retried.push_back(sessionDir);
        return ready();
    }
    std::future<void> pushSnapshotsForced() override { return ready(); }
    std::vector<fs::path> retried;

  private:
    static std::future<void> ready() {
        std::promise<void> done;
        done.set_value();
        return done.get_future();
    }
};

class SummaryPreviewWindowGuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bindMainDispatcherToQt(testing::qtTestApp());
        session_ = dir_ / "2025-01-31T09-15-00Z";
        fs::create_directories(session_ / "summary_versions");
        SessionMetadata metadata;
        metadata.config.summary.provider = "openai";
        SessionMetadataStore::write(metadata, session_);
        platform::writeFileAtomically(session_ / "summary.md", "# Latest\n\nBody");
        platform::writeFileAtomically(
            session_ / "summary_config.json",
            R"({"provider":"openai","model":"gpt-4.1","outputLanguage":"ja","userNote":"n"})");
        platform::writeFileAtomically(session_ / "summary_versions" / "2025-01-30T08-00-00Z.md", "# Old");
        snapshot_.id = session_;
        snapshot_.dirName = session_.filename().string();
        snapshot_.config.summary.provider = "openai";
        snapshot_.recordingDuration = 307;

        SummaryPreviewWindowController::setStateDependencies({
            .appState = &appState_,
            .defaults = UserDefaults(settings_),
            .queue = queue_,
            .showSessionMonitor = [this] { ++monitorShown_; },
        });
    }
    void TearDown() override {
        for (const SummaryVersion& v : SummaryVersionStore::allVersions(session_))
            SummaryPreviewWindowController::closeWindow(v.url);
        QApplication::processEvents();
        SummaryPreviewWindowController::setStateDependencies({});
    }

    std::vector<SummaryVersion> versions() const { return SummaryVersionStore::allVersions(session_); }

    SummaryPreviewView& showLoaded(const SummaryVersion& version) {
        SummaryPreviewWindowController::show(snapshot_, version);
        auto* window = SummaryPreviewWindowController::openWindow(version.url);
        EXPECT_NE(window, nullptr);
        SummaryPreviewView& view = window->view();
        EXPECT_TRUE(testing::processEventsUntil([&] { return !view.state().isLoadingFile(); }));
        return view;
    }

    testing::TempDir dir_;
    fs::path session_;
    SessionStatusSnapshot snapshot_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
    AppState appState_{AppState::Dependencies{.settings = &settings_}};
    std::shared_ptr<FakeQueue> queue_ = std::make_shared<FakeQueue>();
    int monitorShown_ = 0;
};

TEST_F(SummaryPreviewWindowGuiTest, OneWindowPerVersionFileClosedByTheCloseKey) {
    const auto all = versions();
    SummaryPreviewWindowController::show(snapshot_, all[0]);
    auto* latest = SummaryPreviewWindowController::openWindow(all[0].url);
    ASSERT_NE(latest, nullptr);
    SessionStatusSnapshot other = snapshot_;
    other.dirName = "different snapshot";
    SummaryPreviewWindowController::show(other, all[0]);
    EXPECT_EQ(SummaryPreviewWindowController::openWindow(all[0].url), latest);
    EXPECT_EQ(latest->windowTitle().toStdString(), "要約 — 2025-01-31T09-15-00Z");

    SummaryPreviewWindowController::show(snapshot_, all[1]);
    auto* archived = SummaryPreviewWindowController::openWindow(all[1].url);
    ASSERT_NE(archived, nullptr);
    EXPECT_NE(archived, latest);
    EXPECT_EQ(archived->windowTitle().toStdString(), "要約 [" + all[1].label() + "] — 2025-01-31T09-15-00Z");
    EXPECT_EQ(archived->size(), QSize(860, 600));

    archived->activateWindow();
    ASSERT_TRUE(testing::processEventsUntil([&] { return QApplication::activeWindow() == archived; }));
    QTest::keySequence(archived, QKeySequence::Close);
    EXPECT_TRUE(testing::processEventsUntil(
        [&] { return SummaryPreviewWindowController::openWindow(all[1].url) == nullptr; }));
    EXPECT_EQ(SummaryPreviewWindowController::openWindow(all[0].url), latest);

    SummaryPreviewWindowController::show(snapshot_, all[1]);
    EXPECT_NE(SummaryPreviewWindowController::openWindow(all[1].url), nullptr);
}

TEST_F(SummaryPreviewWindowGuiTest, LatestWindowReopensWithItsFrame) {
    const auto all = versions();
    SummaryPreviewWindowController::show(snapshot_, all[0]);
    auto* window = SummaryPreviewWindowController::openWindow(all[0].url);
    window->resize(1000, 700);
    testing::processEventsUntil([] { return false; }, std::chrono::milliseconds(400));
    SummaryPreviewWindowController::closeWindow(all[0].url);
    QApplication::processEvents();
    ASSERT_TRUE(settings_.string("SummaryPreview-2025-01-31T09-15-00Z"));

    SummaryPreviewWindowController::show(snapshot_, all[0]);
    EXPECT_EQ(SummaryPreviewWindowController::openWindow(all[0].url)->size(), QSize(1000, 700));
}

TEST_F(SummaryPreviewWindowGuiTest, ArchivedVersionIsReadOnlyAndTheLatestIsEditedWithSaving) {
    const auto all = versions();
    SummaryPreviewView& archived = showLoaded(all[1]);
    EXPECT_TRUE(archived.readOnlyBadge()->isVisibleTo(&archived));
    EXPECT_FALSE(archived.resummarizeButton()->isVisibleTo(&archived));
    EXPECT_TRUE(archived.openVersionButton()->isVisibleTo(&archived));
    EXPECT_TRUE(archived.versionPicker()->isVisibleTo(&archived));
    archived.sourceTab()->click();
    EXPECT_EQ(archived.content()->currentWidget(), archived.sourceText());
    EXPECT_EQ(archived.sourceText()->toPlainText(), "# Old");

    SummaryPreviewView& latest = showLoaded(all[0]);
    EXPECT_FALSE(latest.readOnlyBadge()->isVisibleTo(&latest));
    EXPECT_FALSE(latest.openVersionButton()->isVisibleTo(&latest));
    ASSERT_TRUE(latest.runConfigBar()->isVisibleTo(&latest));
    EXPECT_EQ(latest.runConfigBar()->texts(), (QStringList{"OpenAI API", "gpt-4.1", "ja"}));
    EXPECT_EQ(latest.runConfigBar()->noteTip(), "n");
    latest.sourceTab()->click();
    ASSERT_EQ(latest.content()->currentWidget(), latest.sourceEditor());
    latest.sourceEditor()->setPlainText("# Edited");
    EXPECT_TRUE(latest.savingIndicator()->isVisibleTo(&latest));
    ASSERT_TRUE(testing::processEventsUntil([&] { return !latest.state().isSaving(); }));
    EXPECT_EQ(platform::readFile(session_ / "summary.md"), "# Edited");
    EXPECT_FALSE(latest.savingIndicator()->isVisibleTo(&latest));
}

TEST_F(SummaryPreviewWindowGuiTest, PreviewTabShowsTheRenderedSummary) {
    SummaryPreviewView& view = showLoaded(versions()[0]);
    view.resize(1000, 700);
    ASSERT_NE(view.webView(), nullptr);
    EXPECT_EQ(view.content()->currentWidget(), view.webView());
    EXPECT_EQ(view.webView()->lastMarkdown(), "# Latest\n\nBody");
    ASSERT_TRUE(testing::processEventsUntil([&] { return view.webView()->isPageLoaded(); }, seconds(30)));
}

TEST_F(SummaryPreviewWindowGuiTest, PanelOffersTheModelControlOfTheProviderAndStartsTheRequest) {
    SummaryPreviewView& view = showLoaded(versions()[0]);
    EXPECT_FALSE(view.resummarizePanel()->isVisibleTo(&view));
    view.resummarizeButton()->click();
    ASSERT_TRUE(view.resummarizePanel()->isVisibleTo(&view));
    ResummarizePanel& panel = *view.resummarizePanel();
    EXPECT_EQ(panel.providerPicker()->currentData().toString(), "openai");
    EXPECT_NE(dynamic_cast<ModelPickerField*>(panel.modelControl()), nullptr);

    auto choose = [&](const char* provider) {
        const int index = panel.providerPicker()->findData(QString::fromLatin1(provider));
        ASSERT_GE(index, 0);
        panel.providerPicker()->setCurrentIndex(index);
        emit panel.providerPicker()->activated(index);
    };
    choose("claude_cli");
    auto* typed = dynamic_cast<QLineEdit*>(panel.modelControl());
    ASSERT_NE(typed, nullptr);
    QTest::keyClicks(typed, "opus");
    EXPECT_EQ(view.state().selections().selectedClaudeCLIModel, "opus");
    choose("gemini");
    EXPECT_EQ(panel.modelControl(), nullptr);
    choose("claude_cli");
    QTest::keyClicks(panel.noteEditor(), "Focus");

    panel.startButton()->click();
    EXPECT_FALSE(panel.startButton()->isEnabled());
    EXPECT_EQ(panel.startButton()->text(), "Running...");
    ASSERT_TRUE(testing::processEventsUntil([&] { return monitorShown_ == 1; }));
    EXPECT_EQ(queue_->retried, std::vector<fs::path>{session_});
    const SessionMetadata written = SessionMetadataStore::read(session_);
    EXPECT_EQ(written.config.summary.provider, "claude_cli");
    EXPECT_EQ(written.config.summary.providerModel, "opus");
    EXPECT_EQ(written.config.summary.userNote, "Focus");
    EXPECT_TRUE(testing::processEventsUntil(
        [&] { return SummaryPreviewWindowController::openWindow(session_ / "summary.md") == nullptr; }));
    EXPECT_EQ(appState_.expandedSessionID(), session_);
}

TEST_F(SummaryPreviewWindowGuiTest, PanelSlidesInAndOutWithTheButton) {
    SummaryPreviewView& view = showLoaded(versions()[0]);
    QWidget* row = view.resummarizePanel()->parentWidget();
    view.resummarizeButton()->click();
    EXPECT_TRUE(row->isVisibleTo(&view));
    ASSERT_TRUE(testing::processEventsUntil([&] {
        return row->maximumHeight() == QWIDGETSIZE_MAX && row->height() >= row->sizeHint().height();
    }));
    view.resummarizeButton()->click();
    EXPECT_TRUE(row->isVisibleTo(&view)); // on its way out
    EXPECT_TRUE(testing::processEventsUntil([&] { return !row->isVisibleTo(&view); }));
    EXPECT_EQ(row->maximumHeight(), QWIDGETSIZE_MAX);
}

TEST_F(SummaryPreviewWindowGuiTest, SidebarShowsTheSessionFacts) {
    SummaryMetadataSidebar withDuration(snapshot_);
    const QStringList rows = withDuration.rows();
    EXPECT_TRUE(rows.contains("SESSION SUMMARY: 2025-01-31T09-15-00Z"));
    EXPECT_TRUE(rows.contains("録音時間: 0:05:07"));
    EXPECT_TRUE(rows.contains("プロバイダ: openai"));
    EXPECT_TRUE(rows.contains("出力言語: デフォルト"));

    snapshot_.recordingDuration.reset();
    SummaryMetadataSidebar without(snapshot_);
    for (const QString& row : without.rows())
        EXPECT_FALSE(row.startsWith("録音時間"));
}

// Long names used to widen the sidebar beyond its column, which then scrolled sideways.
TEST_F(SummaryPreviewWindowGuiTest, LongNamesAreCutAtTheSidebarColumn) {
    snapshot_.dirName = std::string(120, 'x');
    snapshot_.config.summary.providerModel = "vendor/" + std::string(120, 'm');
    SummaryMetadataSidebar sidebar(snapshot_);
    EXPECT_TRUE(sidebar.rows().contains(QString::fromStdString("SESSION SUMMARY: " + snapshot_.dirName)));
    EXPECT_LE(sidebar.minimumSizeHint().width(), 230);
}

// Provider, model and note come from the session's files: what looks like markup shows as typed.
TEST_F(SummaryPreviewWindowGuiTest, TextsFromTheFilesThatLookLikeMarkupShowAsTyped) {
    const std::string markup = "<img src=\"/etc/passwd\"><b>x</b>";
    RunConfigBar bar;
    bar.show(
        SummaryRunConfig{.provider = markup, .model = markup, .outputLanguage = "ja", .userNote = markup});
    snapshot_.config.summary.provider = markup;
    SummaryMetadataSidebar sidebar(snapshot_);
    EXPECT_TRUE(bar.texts().contains(QString::fromStdString(markup)));
    EXPECT_EQ(bar.noteTip(), QString::fromStdString(markup));
    for (const QWidget* parent : {static_cast<QWidget*>(&bar), static_cast<QWidget*>(&sidebar)}) {
        for (const QLabel* label : parent->findChildren<QLabel*>()) {
            if (label->text().contains('<')) {
                EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
            }
            EXPECT_FALSE(label->toolTip().contains("<img")) << label->toolTip().toStdString();
        }
    }
}

} // namespace
} // namespace velnote
