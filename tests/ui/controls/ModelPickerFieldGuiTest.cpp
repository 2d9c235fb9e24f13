#include "support/QueuedExecutor.h"
#include "ui/controls/ModelPickerField.h"
#include "ui/shell/QtMainLoop.h"
#include "ui/shell/support/QtTestApp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <stdexcept>

namespace velnote {
namespace {

QStringList rows(const QComboBox& box) {
    QStringList titles;
    for (int i = 0; i < box.count(); ++i) {
        titles << box.itemText(i);
    }
    return titles;
}

class ModelPickerFieldGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::qtTestApp(); }

    ModelPickerConfig config(bool withToggle = false) {
        ModelPickerConfig made{.label = "Model", .selectedModel = Binding<std::string>::over(selected)};
        made.fetchModels = [this](bool freeOnly) {
            if (failWith) {
                throw std::runtime_error(*failWith);
            }
            return freeOnly ? std::vector<std::string>{"free"} : std::vector<std::string>{"a", "b"};
        };
        made.showFreeOnlyToggle = withToggle;
        return made;
    }

    void settle() {
        worker.runAll();
        main.runAll();
    }

    std::string selected;
    std::optional<std::string> failWith;
    testing::QueuedExecutor worker;
    testing::QueuedExecutor main;
};

TEST_F(ModelPickerFieldGuiTest, RefreshFetchesFillsThePopUpAndChoosingWritesTheBinding) {
    selected = "mine";
    ModelPickerField field(config(), worker, main);
    field.show();
    EXPECT_EQ(rows(*field.picker()), (QStringList{"mine", "", "Custom..."}));
    EXPECT_EQ(field.picker()->currentText(), "mine");
    EXPECT_EQ(field.refreshButton()->toolTip(), "Fetch available models from API");
    EXPECT_FALSE(field.freeOnlyBox()->isVisible());
    EXPECT_FALSE(field.errorLabel()->isVisible());

    QTest::mouseClick(field.refreshButton(), Qt::LeftButton);
    EXPECT_FALSE(field.refreshButton()->isEnabled());
    settle();
    EXPECT_TRUE(field.refreshButton()->isEnabled());
    EXPECT_EQ(rows(*field.picker()), (QStringList{"mine", "a", "b", "", "Custom..."}));

    field.picker()->setCurrentIndex(2);
    emit field.picker()->activated(2);
    EXPECT_EQ(selected, "b");
    EXPECT_EQ(rows(*field.picker()), (QStringList{"a", "b", "", "Custom..."}));
    EXPECT_EQ(field.picker()->currentText(), "b");
}

TEST_F(ModelPickerFieldGuiTest, CustomEntrySwapsInATextFieldThatCommitsOnReturn) {
    selected = "a";
    // Hosted as in the preferences window: a dialog whose default button Return must not press.
    QDialog host;
    auto* hosted = new ModelPickerField(config(), worker, main, &host);
    ModelPickerField& field = *hosted;
    auto* save = new QPushButton("Save", &host);
    save->setDefault(true);
    int saves = 0;
    QObject::connect(save, &QPushButton::clicked, [&] { ++saves; });
    host.show();
    const int custom = field.picker()->count() - 1;
    emit field.picker()->activated(custom);
    EXPECT_TRUE(field.customField()->isVisible());
    EXPECT_FALSE(field.picker()->isVisible());
    EXPECT_EQ(field.customField()->text(), "a");
    EXPECT_EQ(field.customField()->placeholderText(), "Model");

    field.customField()->clear();
    QTest::keyClicks(field.customField(), " vendor/model ");
    QTest::keyClick(field.customField(), Qt::Key_Return);
    EXPECT_EQ(selected, " vendor/model ");
    EXPECT_EQ(saves, 0);
    EXPECT_TRUE(host.isVisible());
    EXPECT_TRUE(field.picker()->isVisible());
    EXPECT_EQ(field.picker()->currentText(), " vendor/model ");

    emit field.picker()->activated(field.picker()->count() - 1);
    QTest::keyClicks(field.customField(), "x");
    QTest::mouseClick(field.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(selected, " vendor/model ");
}

TEST_F(ModelPickerFieldGuiTest, AFailureShowsItsMessageAsPlainRedText) {
    failWith = "<b>Server returned error: 502</b>";
    ModelPickerField field(config(/*withToggle=*/true), worker, main);
    field.show();
    EXPECT_TRUE(field.freeOnlyBox()->isVisible());
    EXPECT_EQ(field.freeOnlyBox()->text(), "Free models only");
    QTest::mouseClick(field.refreshButton(), Qt::LeftButton);
    settle();
    EXPECT_TRUE(field.errorLabel()->isVisible());
    EXPECT_EQ(field.errorLabel()->text().toStdString(), *failWith);
    EXPECT_EQ(field.errorLabel()->textFormat(), Qt::PlainText);
    const QColor red = field.errorLabel()->palette().color(QPalette::WindowText);
    EXPECT_GT(red.red(), 200);
    EXPECT_LT(red.green(), 100);

    failWith.reset();
    QTest::mouseClick(field.refreshButton(), Qt::LeftButton);
    EXPECT_FALSE(field.errorLabel()->isVisible());
}

TEST_F(ModelPickerFieldGuiTest, TheApplicationsThreadsDeliverTheListAndAClosedFieldIsSafe) {
    bindMainDispatcherToQt(testing::qtTestApp());
    {
        ModelPickerField field(config());
        field.show();
        field.refreshButton()->click();
        ASSERT_TRUE(testing::processEventsUntil([&] { return field.picker()->count() == 4; }));
        EXPECT_EQ(rows(*field.picker()), (QStringList{"a", "b", "", "Custom..."}));
    }
    {
        auto field = std::make_unique<ModelPickerField>(config());
        field->refreshButton()->click();
        field.reset(); // the answer arrives for a field that is gone
        QTest::qWait(100);
    }
}

TEST_F(ModelPickerFieldGuiTest, ItDrawsSomething) {
    ModelPickerField field(config(/*withToggle=*/true), worker, main);
    field.resize(320, 80);
    field.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&field));
    const QImage shot = field.grab().toImage();
    ASSERT_FALSE(shot.isNull());
    const QRgb first = shot.pixel(0, 0);
    bool varied = false;
    for (int y = 0; y < shot.height() && !varied; ++y) {
        for (int x = 0; x < shot.width() && !varied; ++x) {
            varied = shot.pixel(x, y) != first;
        }
    }
    EXPECT_TRUE(varied);
}

} // namespace
} // namespace velnote
