#include "session/l10n/L10n.h"
#include "ui/monitor/RetryProviderSelectionForm.h"
#include "ui/monitor/RetryProviderSelectionWindowController.h"
#include "ui/shell/support/QtTestApp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using Dialog = RetryProviderSelectionWindowController;

RetryWindowInput inputWith(StepStatus transcription, StepStatus diarization) {
    RetryWindowInput input{.snapshot = {}, .values = RetryFormValues::initial()};
    input.snapshot.transcription.status = transcription;
    input.snapshot.diarization.status = diarization;
    input.values.startStep = normalizeRetryStartStep(RetryStartStep::summary, input.snapshot.transcription,
                                                     input.snapshot.diarization);
    return input;
}

class RetryDialogGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::qtTestApp(); }
    void TearDown() override {
        for (Dialog* dialog : std::vector(Dialog::openControllers()))
            dialog->reject();
        testing::processEventsUntil([] { return Dialog::openControllers().empty(); });
    }
    // Opens one and returns it with the list of confirmed states.
    Dialog& open(RetryWindowInput input) {
        auto dialog = std::make_shared<Dialog*>(nullptr);
        Dialog::open(std::move(input), [this, dialog](RetryProviderSelectionState state) {
            confirmed_.push_back(state);
            visibleWhenConfirmed_.push_back((*dialog)->isVisible());
        });
        *dialog = Dialog::openControllers().back();
        return **dialog;
    }
    std::vector<RetryProviderSelectionState> confirmed_;
    std::vector<bool> visibleWhenConfirmed_;
};

TEST_F(RetryDialogGuiTest, StartStepsFollowTheSessionAndSummaryHidesTheEarlierSections) {
    Dialog& failed = open(inputWith(StepStatus::failed, StepStatus::pending));
    RetryProviderSelectionForm& form = failed.form();
    EXPECT_EQ(failed.windowTitle().toStdString(),
              L10n::localized("L10n.SessionMonitor.retryTitle", "再試行設定"));
    EXPECT_EQ(failed.size(), QSize(480, 640));
    EXPECT_TRUE(form.startStepButton(RetryStartStep::transcription)->isEnabled());
    EXPECT_FALSE(form.startStepButton(RetryStartStep::diarization)->isEnabled());
    EXPECT_FALSE(form.startStepButton(RetryStartStep::summary)->isEnabled());
    EXPECT_TRUE(form.startStepButton(RetryStartStep::transcription)->isChecked());

    Dialog& done = open(inputWith(StepStatus::done, StepStatus::running));
    EXPECT_TRUE(done.form().startStepButton(RetryStartStep::diarization)->isEnabled());
    EXPECT_FALSE(done.form().startStepButton(RetryStartStep::summary)->isEnabled());
    EXPECT_EQ(Dialog::openControllers().size(), 2u);

    Dialog& all = open(inputWith(StepStatus::done, StepStatus::done));
    const auto sectionShown = [&](const char* title) {
        for (QGroupBox* box : all.form().findChildren<QGroupBox*>())
            if (box->title() == title)
                return box->isVisibleTo(&all.form());
        return false;
    };
    EXPECT_FALSE(sectionShown("Transcription"));
    EXPECT_FALSE(sectionShown("Speaker Diarization"));
    all.form().startStepButton(RetryStartStep::transcription)->click();
    EXPECT_TRUE(sectionShown("Transcription"));
    EXPECT_TRUE(sectionShown("Speaker Diarization"));
}

TEST_F(RetryDialogGuiTest, RetryHandsBackTheValuesOnceAfterClosingAndCancelHandsBackNothing) {
    Dialog& first = open(inputWith(StepStatus::done, StepStatus::done));
    Dialog& second = open(inputWith(StepStatus::done, StepStatus::done));
    RetryProviderSelectionForm& form = first.form();
    form.providerButton("copilot_cli")->click();
    auto* cliModel = static_cast<QLineEdit*>(form.field("copilotCLIModel"));
    EXPECT_TRUE(cliModel->isVisibleTo(&form));
    EXPECT_FALSE(form.field("localModelPath")->isVisibleTo(&form));
    QTest::keyClicks(cliModel, "gpt-5");
    form.providerButton("local")->click();
    QTest::keyClicks(static_cast<QLineEdit*>(form.field("localModelPath")), "  ");
    EXPECT_TRUE(form.field("localModel")->isVisibleTo(&form)); // a blank path still shows the picker
    form.providerButton("openrouter")->click();
    auto* key = static_cast<QLineEdit*>(form.field("openRouterKey"));
    EXPECT_EQ(key->echoMode(), QLineEdit::Password);
    QTest::keyClicks(key, "sk-typed");
    EXPECT_TRUE(form.field("openRouterModel")->isVisibleTo(&form));
    form.providerButton("copilot_cli")->click();
    EXPECT_EQ(cliModel->text().toStdString(), "gpt-5"); // kept across switches

    auto* intermediate = form.findChild<QPlainTextEdit*>("intermediatePrompt");
    form.findChild<QPushButton*>("resetIntermediate")->click();
    EXPECT_EQ(intermediate->toPlainText().toStdString().rfind("Bullet points only.", 0), 0u);

    first.findChild<QPushButton*>("retry")->click();
    ASSERT_EQ(confirmed_.size(), 1u);
    EXPECT_FALSE(visibleWhenConfirmed_[0]);
    EXPECT_EQ(confirmed_[0].providerRawValue, "copilot_cli");
    EXPECT_EQ(confirmed_[0].cliModel, "gpt-5");
    EXPECT_EQ(confirmed_[0].localModelPath, "  ");
    EXPECT_EQ(confirmed_[0].providerAPIKey, "sk-typed"); // a hidden field is handed back too
    EXPECT_EQ(confirmed_[0].startStep, RetryStartStep::summary);
    EXPECT_TRUE(second.isVisible()); // the other dialog stays

    // Ctrl+W while a dialog is the active window ends it as Escape does.
    Dialog& third = open(inputWith(StepStatus::done, StepStatus::done));
    third.activateWindow();
    ASSERT_TRUE(testing::processEventsUntil([&] { return QApplication::activeWindow() == &third; }));
    QTest::keySequence(&third, QKeySequence::Close);
    EXPECT_FALSE(third.isVisible());

    QTest::keyClick(&second, Qt::Key_Escape);
    EXPECT_EQ(confirmed_.size(), 1u);
    EXPECT_TRUE(testing::processEventsUntil([] { return Dialog::openControllers().empty(); }));
}

} // namespace
} // namespace velnote
