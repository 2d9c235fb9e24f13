#include "platform/concurrency/ManualClock.h"
#include "support/InlineExecutor.h"
#include "support/TempDir.h"
#include "ui/models/ListEditorWindowControllers.h"
#include "ui/shell/support/QtTestApp.h"

#include <QCheckBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;

// Text committed by an input method, as Japanese typing arrives.
void commitText(QLineEdit* field, const QString& text) {
    field->setFocus();
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(field, &event);
}

template <class W> W* child(QWidget* row, const char* name = nullptr) {
    return name ? row->findChild<W*>(name) : row->findChild<W*>();
}

class ListEditorWindowsGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::qtTestApp(); }

    void wait(platform::Clock::Duration by) {
        clock_.advance(by);
        main_.runPending();
    }
    void settle() { QApplication::processEvents(); }

    testing::TempDir dir_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
    platform::ManualClock clock_;
    platform::TimerScheduler timers_{clock_};
    platform::MainDispatcher main_;
    testing::InlineExecutor background_;
    ListEditorDependencies dependencies_{.timers = &timers_, .main = &main_, .background = &background_};
};

TEST_F(ListEditorWindowsGuiTest, FilterRowsEditTheListAndDimWhenOff) {
    HallucinationFilterWindowController controller(&settings_, dependencies_);
    controller.show();
    ASSERT_TRUE(testing::processEventsUntil([&] { return controller.window().isVisible(); }));
    EXPECT_EQ(controller.window().windowTitle(), "Hallucination Filter...");
    HallucinationFilterView& view = controller.view();
    ASSERT_EQ(view.rows().size(), 4) << "the built-in phrases when nothing is stored";

    QWidget* first = view.rows()[0];
    auto* phrase = child<QLineEdit>(first);
    EXPECT_EQ(phrase->text(), "Thanks for watching");
    child<QCheckBox>(first)->click();
    EXPECT_TRUE(phrase->property("dimmed").toBool());
    EXPECT_TRUE(phrase->isEnabled()) << "dimmed, still editable";
    phrase->selectAll();
    QTest::keyClicks(phrase, "Bye");
    wait(500ms);
    const auto stored = HallucinationFilterStore::loadEntries(settings_);
    EXPECT_FALSE(stored[0].isEnabled);
    EXPECT_EQ(stored[0].phrase, "Bye");

    child<QPushButton>(view.rows()[1], "delete")->click();
    settle();
    EXPECT_EQ(view.rows().size(), 3);
    view.addButton()->click();
    settle();
    ASSERT_EQ(view.rows().size(), 4);
    EXPECT_EQ(child<QLineEdit>(view.rows()[3])->text(), "");
    EXPECT_EQ(child<QLineEdit>(view.rows()[3])->placeholderText(), "Phrase to remove");
    EXPECT_TRUE(child<QCheckBox>(view.rows()[3])->isChecked());

    view.resetButton()->click();
    settle();
    EXPECT_EQ(child<QLineEdit>(view.rows()[0])->text(), "Thanks for watching");
    EXPECT_EQ(view.rows().size(), 4);
}

TEST_F(ListEditorWindowsGuiTest, AnEmptyListShowsNoEntriesUntilAnEntryIsAdded) {
    HallucinationFilterStore::saveEntries({}, settings_);
    HallucinationFilterWindowController controller(&settings_, dependencies_);
    controller.show();
    EXPECT_TRUE(controller.view().showsEmptyText());
    controller.view().addButton()->click();
    settle();
    EXPECT_FALSE(controller.view().showsEmptyText());
    EXPECT_EQ(controller.view().rows().size(), 1);
}

TEST_F(ListEditorWindowsGuiTest, DictionaryRowsTypeIntoBothSidesAndCloseKeepsTheList) {
    UserDictionaryWindowController controller(&settings_, dependencies_);
    controller.show();
    ASSERT_TRUE(testing::processEventsUntil([&] { return controller.window().isVisible(); }));
    EXPECT_EQ(controller.window().windowTitle(), "User Dictionary");
    UserDictionaryView& view = controller.view();
    EXPECT_TRUE(view.showsEmptyText());
    view.addButton()->click();
    settle();
    QWidget* row = view.rows().at(0);
    EXPECT_EQ(child<QLineEdit>(row, "wrong")->placeholderText(), "Incorrect");
    EXPECT_EQ(child<QLineEdit>(row, "correct")->placeholderText(), "Correct");
    commitText(child<QLineEdit>(row, "wrong"), "ベル");
    QTest::keyClicks(child<QLineEdit>(row, "correct"), "Bell");

    controller.window().close(); // only hides; the pending save still lands
    settle();
    EXPECT_FALSE(controller.window().isVisible());
    wait(500ms);
    const auto stored = UserDictionaryStore::loadEntries(settings_);
    ASSERT_EQ(stored.size(), 1U);
    EXPECT_EQ(stored[0].wrong, "ベル");
    EXPECT_EQ(stored[0].correct, "Bell");

    controller.show();
    ASSERT_TRUE(testing::processEventsUntil([&] { return controller.window().isVisible(); }));
    EXPECT_EQ(child<QLineEdit>(view.rows().at(0), "correct")->text(), "Bell");
}

} // namespace
} // namespace velnote
