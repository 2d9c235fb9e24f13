#include "app/state/support/AppStateFixture.h"
#include "ui/preview/markdown/MarkdownPreviewWebView.h"
#include "ui/recording/RecordingFloatingWindowController.h"
#include "ui/settings/SessionSettingsWindowController.h"
#include "ui/shell/support/QtTestApp.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QWebEnginePage>
#include <gtest/gtest.h>
#include <optional>

namespace velnote {
namespace {

using namespace std::chrono_literals;

// The HTML of the rendered Markdown in a web view's page, once the page has loaded.
QString renderedHTML(MarkdownPreviewWebView& view) {
    if (!testing::processEventsUntil([&] { return view.isPageLoaded(); }, 30s)) {
        return {};
    }
    std::optional<QString> html;
    view.page()->runJavaScript("document.getElementById('markdown-container').innerHTML",
                               [&](const QVariant& value) { html = value.toString(); });
    testing::processEventsUntil([&] { return html.has_value(); }, 20s);
    return html.value_or(QString());
}

class RecordingWindowGuiTest : public testing::AppStateFixture {
  protected:
    void SetUp() override { testing::qtTestApp(); }

    RecordingFloatingWindowController& controller() {
        if (!controller_) {
            RecordingFloatingWindowController::Dependencies dependencies;
            dependencies.state = &state();
            dependencies.settings = &settings_;
            dependencies.screens = [] {
                return std::vector<PanelScreen>{
                    {.frame = {0, 0, 1920, 1080}, .visibleFrame = {0, 0, 1920, 1050}}};
            };
            dependencies.view.clock = &clock_;
            if (!useDefaultActions) {
                dependencies.view.actions = recordingActions();
            }
            controller_ = std::make_unique<RecordingFloatingWindowController>(std::move(dependencies));
        }
        return *controller_;
    }
    RecordingWindowActions recordingActions() {
        return RecordingWindowActions{
            .restartMicCapture = [this] { calls.push_back("restartMic"); },
            .restartSystemAudioCapture = [this] { calls.push_back("restartSys"); },
            .captureScreenshotOCR = [this] { calls.push_back("ocr"); },
            .showRegionPicker = [this] { calls.push_back("region"); },
            .stopRecording = [this] { calls.push_back("stop"); },
            .showSessionSettings = [this] { calls.push_back("settings"); },
            .openFolder =
                [this](const std::filesystem::path& dir) { calls.push_back("open " + dir.string()); },
        };
    }
    RecordingFloatingView& view() { return *controller().view(); }

    void record() {
        controller();
        state().setRecordingState(RecordingState::recording());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller().panel()));
    }
    void click(QAbstractButton* button) {
        ASSERT_TRUE(button->isVisible() && button->isEnabled()) << button->text().toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void openSection(std::string_view id) {
        if (!view().openSectionIds().contains(std::string(id))) {
            click(view().section(id)->headerButton());
        }
    }

    std::vector<std::string> calls;
    bool useDefaultActions = false; // the application's own actions instead of recorders
    std::unique_ptr<RecordingFloatingWindowController> controller_;
};

TEST_F(RecordingWindowGuiTest, ThePanelFollowsTheRecordingState) {
    QWidget& panel = *controller().panel();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(state().isRecordingFloatingWindowVisible());
    EXPECT_EQ(panel.windowTitle(), "Velnote");
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(panel.windowFlags().testFlag(Qt::WindowCloseButtonHint));

    struct Step {
        RecordingState state;
        bool shown;
    };
    for (const Step& step :
         {Step{RecordingState::starting(), true}, Step{RecordingState::recording(), true},
          Step{RecordingState::stopping(), false}, Step{RecordingState::idle(), false},
          Step{RecordingState::starting(), true}, Step{RecordingState::error("failed"), false}}) {
        state().setRecordingState(step.state);
        EXPECT_EQ(panel.isVisible(), step.shown);
        EXPECT_EQ(state().isRecordingFloatingWindowVisible(), step.shown);
    }
}

TEST_F(RecordingWindowGuiTest, FirstShowingCentresTheFallbackFrameAndDrawsTheRegularLayout) {
    record();
    QWidget& panel = *controller().panel();
    EXPECT_EQ(panel.size(), QSize(360, 460));
    if (testing::hasDisplay()) {
        EXPECT_NE(panel.geometry().topLeft(), QPoint(0, 0));
    }
    EXPECT_TRUE(view().sectionArea()->isVisible());
    EXPECT_FALSE(view().compactArea()->isVisible());
    EXPECT_TRUE(view().header()->dot()->isVisible());
    EXPECT_TRUE(view().header()->statusLine()->isVisible());
    EXPECT_TRUE(testing::drawsSomething(panel));
}

TEST_F(RecordingWindowGuiTest, OpenSectionsAreRememberedAndDecideWhatAppStatePublishes) {
    controller();
    state().setRecordingState(RecordingState::starting());
    // Starting: the panel shows, but nothing is published yet.
    state().updateInputLevels(0.5, 0.5);
    EXPECT_EQ(state().micInputLevel(), 0);
    EXPECT_EQ(view().openSectionIds(), (std::set<std::string>{"volume"}));
    EXPECT_TRUE(view().audio()->isVisible());
    EXPECT_FALSE(view().transcript()->isVisible());

    state().setRecordingState(RecordingState::recording());
    state().updateInputLevels(0.5, 0.25);
    EXPECT_GT(state().micInputLevel(), 0);
    state().updateLiveTranscriptLines({"[00:01] hello"});
    EXPECT_TRUE(state().liveTranscriptLines().empty()); // the transcript section is closed

    openSection("transcription");
    EXPECT_EQ(state().liveTranscriptLines(), (std::vector<std::string>{"[00:01] hello"}));
    EXPECT_EQ(settings_.string("recordingFloatingOpenSections"), "transcription,volume");
    click(view().section("volume")->headerButton());
    click(view().section("transcription")->headerButton());
    EXPECT_EQ(settings_.string("recordingFloatingOpenSections"), "");

    // Hiding the panel tells AppState that nothing is on screen.
    openSection("summary");
    state().setRecordingState(RecordingState::stopping());
    state().updateLiveSummary("# later");
    EXPECT_EQ(state().liveSummary(), "");
}

TEST_F(RecordingWindowGuiTest, AStoredSectionStringWithForeignIdsOpensOnlyKnownSections) {
    settings_.set("recordingFloatingOpenSections", ",summary,,Volume");
    record();
    EXPECT_EQ(view().openSectionIds(), (std::set<std::string>{"Volume", "summary"}));
    EXPECT_TRUE(view().summary()->isVisible());
    EXPECT_FALSE(view().audio()->isVisible());
}

TEST_F(RecordingWindowGuiTest, AudioControlsWriteThroughAppStateAndShowMuting) {
    record();
    AudioControlsSection& audio = *view().audio();
    GainSliderRow& mic = *audio.micGain();
    mic.slider()->setValue(mic.slider()->maximum());
    EXPECT_DOUBLE_EQ(state().micInputGain(), 20);
    EXPECT_EQ(mic.valueText()->text(), "20.00x");
    GainSliderRow& sys = *audio.sysGain();
    sys.slider()->setValue(sys.slider()->minimum());
    EXPECT_DOUBLE_EQ(state().sysInputGain(), 0.5);
    EXPECT_EQ(sys.valueText()->text(), "0.50x");
    state().setSysInputGain(3); // changed elsewhere: the slider follows
    EXPECT_EQ(sys.slider()->value(), sys.slider()->maximum());

    click(mic.muteButton());
    EXPECT_TRUE(state().micMuted());
    EXPECT_EQ(mic.valueText()->text(), "MUTE");
    EXPECT_EQ(audio.micLevel()->levelText()->text(), "MUTE");
    EXPECT_FALSE(mic.slider()->isEnabled());
    EXPECT_EQ(mic.muteButton()->toolTip(), "Muted (click to unmute)");
    click(mic.muteButton());
    EXPECT_TRUE(mic.slider()->isEnabled());

    EXPECT_TRUE(calls.empty()); // showing the panel restarts nothing
    const auto restartsAfter = [&](const std::function<void()>& change) {
        calls.clear();
        change();
        QTest::qWait(50); // settings changes reach the view on a later turn
        return calls;
    };
    const std::vector<std::string> restart{"restartMic"};
    EXPECT_EQ(restartsAfter([&] { click(audio.voiceProcessing()); }), restart);
    EXPECT_FALSE(settings_.boolean("enableVoiceProcessing"));
    EXPECT_EQ(restartsAfter([&] { click(audio.voiceProcessing()); }), restart);
    // Changed elsewhere (the preferences): the running capture follows too; the same value does not.
    EXPECT_EQ(restartsAfter([&] { settings_.set("enableVoiceProcessing", false); }), restart);
    EXPECT_FALSE(audio.voiceProcessing()->isChecked());
    EXPECT_TRUE(restartsAfter([&] { settings_.set("enableVoiceProcessing", false); }).empty());
    EXPECT_EQ(restartsAfter([&] { click(audio.restartButton()); }), (std::vector<std::string>{"restartSys"}));
}

TEST_F(RecordingWindowGuiTest, TheHeaderClockRunsOnlyWhileRecording) {
    controller();
    state().setRecordingStartedAt(clock_.wallNow() - 3h - 25min - 9s);
    state().setRecordingState(RecordingState::starting());
    EXPECT_FALSE(view().header()->elapsedTimerRunning());
    EXPECT_FALSE(view().header()->dot()->isVisible());
    state().setRecordingState(RecordingState::recording());
    EXPECT_TRUE(view().header()->elapsedTimerRunning());
    EXPECT_EQ(view().header()->elapsedText(), "03:25:09");
    state().setRecordingState(RecordingState::stopping());
    EXPECT_FALSE(view().header()->elapsedTimerRunning());
}

TEST_F(RecordingWindowGuiTest, TheTranscriptPaneShowsStatusTextOrErrorAndCopiesTheWholeSource) {
    record();
    openSection("transcription");
    TranscriptSection& pane = *view().transcript();
    EXPECT_EQ(pane.statusText()->text(), "Waiting...");
    state().updateLiveTranscriptPending(true);
    EXPECT_EQ(pane.statusText()->text(), "Preparing...");

    std::vector<std::string> lines;
    for (int i = 0; i < 130; ++i) {
        lines.push_back("line " + std::to_string(i));
    }
    state().updateLiveTranscriptLines(lines);
    EXPECT_FALSE(pane.statusText()->isVisible());
    ASSERT_TRUE(pane.copyButton()->isVisible());
    EXPECT_TRUE(pane.textArea()->toPlainText().startsWith("...\nline 10\n"));
    click(pane.copyButton());
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("line 0\n")); // the whole text
    EXPECT_EQ(pane.copyButton()->text(), "Copied");
    EXPECT_TRUE(testing::processEventsUntil([&] { return !pane.copyButton()->copied(); }, 3s));

    state().updateLiveTranscriptError(std::string("microphone lost"));
    EXPECT_FALSE(pane.copyButton()->isVisible());
    EXPECT_FALSE(pane.statusText()->isVisible());
    EXPECT_EQ(pane.textArea()->toPlainText(), "microphone lost");

    // Output and input language both English: the translation switch cannot be used.
    SessionConfig config;
    config.outputLanguage = "en";
    config.transcription.language = "en";
    state().beginActiveSession(dir_.path(), config);
    EXPECT_FALSE(pane.translationSwitch()->isEnabled());
}

TEST_F(RecordingWindowGuiTest, TheSummaryPaneSwitchesIntervalsAndShowsSummaryAndError) {
    record();
    openSection("summary");
    SummarySection& pane = *view().summary();
    EXPECT_TRUE(pane.placeholder()->isVisible());
    state().setLiveSummaryEnabled(false);
    EXPECT_FALSE(pane.intervalSlider()->isEnabled());
    click(pane.enabledSwitch());
    EXPECT_TRUE(state().liveSummaryEnabled());
    pane.intervalSlider()->setValue(12);
    EXPECT_EQ(state().liveSummaryIntervalMinutes(), 12);
    state().setLiveSummaryIntervalMinutes(45);
    EXPECT_EQ(pane.intervalText()->text(), "45m");
    EXPECT_EQ(pane.intervalSlider()->value(), 30);
    EXPECT_EQ(state().liveSummaryIntervalMinutes(), 45); // showing it at the slider's end writes nothing

    EXPECT_EQ(pane.summaryView(), nullptr); // no web page before there is a summary to show

    // The summary is rendered Markdown, and the copy is its source.
    state().updateLiveSummary("# Topics\n- budget");
    state().updateLiveSummaryError(std::string("status=500"));
    MarkdownPreviewWebView* rendered = pane.summaryView();
    ASSERT_NE(rendered, nullptr);
    EXPECT_TRUE(rendered->isVisible());
    EXPECT_FALSE(pane.placeholder()->isVisible());
    EXPECT_TRUE(renderedHTML(*rendered).contains("<h1>Topics</h1>"));
    click(pane.copyButton());
    EXPECT_EQ(QApplication::clipboard()->text(), "# Topics\n- budget");
    EXPECT_EQ(pane.errorText()->text(), "Summary error: status=500");
    state().updateLiveSummaryError(std::string());
    EXPECT_FALSE(pane.errorText()->isVisible());

    // The next summary goes into the same page.
    state().updateLiveSummary("## Decisions\n- ship");
    EXPECT_EQ(pane.summaryView(), rendered);
    EXPECT_TRUE(
        testing::processEventsUntil([&] { return renderedHTML(*rendered).contains("<li>ship</li>"); }, 10s));
}

TEST_F(RecordingWindowGuiTest, ActivityPaneWaitsUntilTheTrackerReports) {
    record();
    openSection("activity");
    ActivitySection& pane = *view().activity();
    EXPECT_TRUE(pane.waitingText()->isVisible());
    EXPECT_EQ(pane.waitingText()->text(), "Waiting for activity...");
    state().updateLiveActivity(
        LiveActivityInfo{.purpose = "Plan Q3", .summary = "Editing", .workState = "Focused"});
    EXPECT_FALSE(pane.waitingText()->isVisible());
    EXPECT_EQ(pane.values()[0]->text(), "Focused");
    EXPECT_EQ(pane.values()[1]->text(), "Plan Q3");
    EXPECT_EQ(pane.values()[2]->text(), "Editing");
}

TEST_F(RecordingWindowGuiTest, ActionButtonsFollowTheStateAndWidth) {
    record();
    ActionRow& row = *view().actionRow();
    using B = ActionRow::Button;
    row.resize(419, row.height());
    EXPECT_EQ(row.button(B::stop)->objectName(), "stop.fill");
    EXPECT_NE(row.button(B::stop)->text(), "Stop Recording");
    row.resize(420, row.height());
    EXPECT_EQ(row.button(B::stop)->text(), "Stop Recording");

    state().setCaptureRegion(ScreenRect{.x = 1, .y = 2, .width = 30, .height = 40});
    EXPECT_EQ(row.button(B::region)->objectName(), "viewfinder.circle.fill");
    click(row.button(B::region));
    EXPECT_FALSE(state().captureRegion());
    EXPECT_EQ(row.button(B::region)->objectName(), "viewfinder");
    click(row.button(B::region));
    click(row.button(B::ocr));
    click(row.button(B::stop));
    click(row.button(B::settings));
    EXPECT_FALSE(row.button(B::folder)->isEnabled()); // no session folder known
    state().beginActiveSession(dir_.path(), SessionConfig{});
    click(row.button(B::folder));
    EXPECT_EQ(calls, (std::vector<std::string>{"region", "ocr", "stop", "settings",
                                               "open " + dir_.path().string()}));

    state().setRecordingState(RecordingState::stopping());
    EXPECT_FALSE(row.button(B::ocr)->isEnabled());
    EXPECT_FALSE(row.button(B::stop)->isEnabled());
    EXPECT_TRUE(row.button(B::folder)->isEnabled());
    EXPECT_TRUE(row.button(B::settings)->isEnabled());
}

// The settings button reaches the application's session settings window, which refuses while the
// recording is still starting.
TEST_F(RecordingWindowGuiTest, TheSettingsButtonOpensTheInstalledSessionSettingsWindow) {
    int built = 0;
    SessionSettingsWindowController::setShared(
        std::make_shared<SessionSettingsWindowController>(state(), [&built] {
            ++built;
            return std::unique_ptr<SessionSettingsWindow>();
        }));
    const std::shared_ptr<void> uninstall(nullptr,
                                          [](void*) { SessionSettingsWindowController::setShared(nullptr); });
    useDefaultActions = true;
    controller();
    state().setRecordingState(RecordingState::starting());
    click(view().actionRow()->button(ActionRow::settings));
    EXPECT_EQ(state().statusMessage(), "Session settings can only be changed during recording");
    EXPECT_EQ(built, 0);
}

TEST_F(RecordingWindowGuiTest, TheCompactLayoutShrinksThePanelBelowItsTopLeftCorner) {
    record();
    QWidget& panel = *controller().panel();
    panel.setGeometry(QRect(100, 120, 400, 460));
    testing::processEventsUntil([&] { return panel.geometry() == QRect(100, 120, 400, 460); }, 1s);
    const QPoint topLeft = panel.geometry().topLeft();
    click(view().header()->layoutButton());
    EXPECT_TRUE(settings_.boolean("recordingFloatingCompactModeEnabled"));
    // The window manager may apply the new height and width in separate steps.
    ASSERT_TRUE(testing::processEventsUntil([&] { return panel.height() < 300 && panel.width() == 280; }))
        << panel.width() << "x" << panel.height();
    EXPECT_EQ(panel.geometry().topLeft(), topLeft);
    EXPECT_TRUE(view().compactArea()->isVisible());
    EXPECT_FALSE(view().header()->statusLine()->isVisible());
    EXPECT_EQ(view().header()->layoutButton()->objectName(), "rectangle.expand.vertical");
    EXPECT_EQ(settings_.doubleValue("recordingWindowCompactHeight"), panel.height());

    state().updateLiveTranscriptLines({"first", "  latest  ", "   "});
    EXPECT_EQ(view().latestLine()->line(), "  latest  ");

    click(view().header()->layoutButton()); // back: the last regular frame returns
    ASSERT_TRUE(testing::processEventsUntil([&] { return panel.height() == 460; }));
    EXPECT_EQ(panel.width(), 400);
}

} // namespace
} // namespace velnote
