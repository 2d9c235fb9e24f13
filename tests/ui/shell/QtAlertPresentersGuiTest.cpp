#include "app/state/support/AppStateFixture.h"
#include "support/QtTestApp.h"
#include "ui/shell/QtErrorAlertPresenter.h"
#include "ui/shell/QtPromptAlertPresenter.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>
#include <gtest/gtest.h>

namespace velnote {
namespace {

// The message box on screen, if any.
QMessageBox* openBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

QAbstractButton* buttonTitled(QMessageBox& box, const char* title) {
    for (QAbstractButton* button : box.buttons()) {
        if (button->text() == QString::fromUtf8(title)) {
            return button;
        }
    }
    return nullptr;
}

class QtAlertPresentersGuiTest : public testing::AppStateFixture {
  protected:
    void SetUp() override {
        testing::qtTestApp();
        state().setErrorAlertPresenter(std::make_shared<QtErrorAlertPresenter>());
    }
    void TearDown() override {
        while (QMessageBox* box = openBox()) {
            box->reject();
            QApplication::processEvents();
        }
    }
};

TEST_F(QtAlertPresentersGuiTest, AFatalErrorHoldsTheErrorStateUntilItsAlertIsClosed) {
    state().setRecordingState(RecordingState::recording());
    state().presentError("Upload failed: The request timed out.", true);

    QMessageBox* box = openBox();
    ASSERT_NE(box, nullptr);
    const std::string improved = AppState::improveErrorMessage("Upload failed: The request timed out.");
    EXPECT_EQ(box->text().toStdString(), improved);
    EXPECT_EQ(box->windowTitle().toStdString(), "Error");
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal); // no window to attach to
    EXPECT_EQ(state().statusMessage(), improved);
    EXPECT_EQ(state().recordingState(), RecordingState::error(improved));

    buttonTitled(*box, "OK")->click();
    ASSERT_TRUE(testing::processEventsUntil([] { return openBox() == nullptr; }));
    EXPECT_EQ(state().recordingState(), RecordingState::idle());
}

TEST_F(QtAlertPresentersGuiTest, AnAlertAttachesToAnOpenWindowAndANonFatalOneLeavesTheStateAlone) {
    QWidget window;
    window.setWindowTitle("Session Status");
    window.show();
    ASSERT_TRUE(testing::processEventsUntil([&] { return window.isVisible(); }));
    state().setRecordingState(RecordingState::recording());

    state().presentError("Microphone lost", false);
    QMessageBox* box = openBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->parentWidget(), &window);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(state().recordingState(), RecordingState::recording());
    box->reject(); // Escape or the window's close button
    ASSERT_TRUE(testing::processEventsUntil([] { return openBox() == nullptr; }));
    EXPECT_EQ(state().recordingState(), RecordingState::recording());
}

TEST_F(QtAlertPresentersGuiTest, MarkupInAMessageIsShownAsWrittenNotRendered) {
    const std::string html =
        "status=502 body=<html><body><h1>Bad Gateway</h1><img src=\"file:///etc/x\"></body>";
    state().presentError(html, false);
    QMessageBox* box = openBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_NE(box->text().toStdString().find("<h1>Bad Gateway</h1>"), std::string::npos);
    box->reject();
    ASSERT_TRUE(testing::processEventsUntil([] { return openBox() == nullptr; }));

    QtPromptAlertPresenter presenter;
    presenter.showPrompt({"<b>Meeting</b>", "<i>Start?</i>", "Start Recording", "Cancel"},
                         [](PromptAlertPresenter::Response) {});
    ASSERT_NE(openBox(), nullptr);
    EXPECT_EQ(openBox()->textFormat(), Qt::PlainText);
}

TEST_F(QtAlertPresentersGuiTest, APromptIsAnsweredOnceHoweverItCloses) {
    QtPromptAlertPresenter presenter;
    const PromptAlertPresenter::Prompt prompt{"Microphone in use", "Start recording?", "Start Recording",
                                              "Cancel"};
    std::vector<PromptAlertPresenter::Response> answers;
    const auto record = [&](PromptAlertPresenter::Response response) { answers.push_back(response); };

    presenter.showPrompt(prompt, record);
    QMessageBox* box = openBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    buttonTitled(*box, "Start Recording")->click();
    ASSERT_TRUE(testing::processEventsUntil([] { return openBox() == nullptr; }));

    presenter.showPrompt(prompt, record);
    buttonTitled(*openBox(), "Cancel")->click();
    ASSERT_TRUE(testing::processEventsUntil([] { return openBox() == nullptr; }));

    presenter.showPrompt(prompt, record);
    presenter.dismissPrompt(); // the timeout or the other application letting go
    presenter.dismissPrompt(); // nothing left to close
    ASSERT_TRUE(testing::processEventsUntil([] { return openBox() == nullptr; }));

    EXPECT_EQ(answers, (std::vector{PromptAlertPresenter::Response::confirmed,
                                    PromptAlertPresenter::Response::cancelled,
                                    PromptAlertPresenter::Response::cancelled}));
}

} // namespace
} // namespace velnote
