#include "ui/controls/IMEDisabledSecureField.h"
#include "ui/shell/support/QtTestApp.h"

#include <QClipboard>
#include <QInputMethodQueryEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace velnote {
namespace {

class IMEDisabledSecureFieldGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::qtTestApp(); }

    std::string key;
    int writes = 0;
    Binding<std::string> binding{[this] { return key; },
                                 [this](const std::string& value) {
                                     key = value;
                                     ++writes;
                                 }};
};

bool inputMethodEnabled(QWidget& widget) {
    QInputMethodQueryEvent query(Qt::ImEnabled);
    QCoreApplication::sendEvent(&widget, &query);
    return query.value(Qt::ImEnabled).toBool();
}

TEST_F(IMEDisabledSecureFieldGuiTest, TypedKeysReachTheBindingAtOnceAndShowAsBullets) {
    IMEDisabledSecureField field("sk-...", binding);
    field.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&field));
    EXPECT_EQ(field.placeholderText(), "sk-...");
    EXPECT_TRUE(field.text().isEmpty());

    QTest::keyClicks(&field, "s");
    EXPECT_EQ(key, "s");
    EXPECT_EQ(field.echoMode(), QLineEdit::Password);
    EXPECT_NE(field.displayText(), "s");
    EXPECT_EQ(field.displayText().size(), 1);

    QTest::keyClicks(&field, "k-1");
    EXPECT_EQ(key, "sk-1");
    EXPECT_EQ(writes, 4); // one write per keystroke
    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_EQ(key, "sk-");
}

TEST_F(IMEDisabledSecureFieldGuiTest, InputMethodsStayOffAlsoWithTheFocus) {
    IMEDisabledSecureField field("", binding);
    field.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&field));
    field.activateWindow();
    field.setFocus();
    field.setReadOnly(false); // QLineEdit turns input methods back on here
    QFocusEvent focusIn(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&field, &focusIn);
    EXPECT_FALSE(field.testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_FALSE(inputMethodEnabled(field));
    EXPECT_TRUE(field.inputMethodHints().testFlag(Qt::ImhSensitiveData));
}

TEST_F(IMEDisabledSecureFieldGuiTest, APasteIsWrittenWholeAndUntrimmed) {
    IMEDisabledSecureField field("", binding);
    QGuiApplication::clipboard()->setText(" sk-pasted\t");
    field.paste();
    EXPECT_EQ(key, " sk-pasted\t");
    EXPECT_EQ(writes, 1);
}

TEST_F(IMEDisabledSecureFieldGuiTest, TheHostsValueReplacesTheTextOnlyWhenItDiffers) {
    key = "stored";
    IMEDisabledSecureField field("", binding);
    EXPECT_EQ(field.text(), "stored");

    field.setCursorPosition(2);
    field.refresh(); // same value: the field is left alone
    EXPECT_EQ(field.cursorPosition(), 2);

    key = "reloaded";
    field.refresh();
    EXPECT_EQ(field.text(), "reloaded");
    EXPECT_EQ(writes, 0); // showing a value is not an edit
}

} // namespace
} // namespace velnote
