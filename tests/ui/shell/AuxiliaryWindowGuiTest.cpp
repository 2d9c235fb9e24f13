#include "support/QtTestApp.h"
#include "ui/shell/AuxiliaryWindow.h"

#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace velnote {
namespace {

class CountingWindow final : public ShowableWindow {
  public:
    void show() override { ++shows; }
    int shows = 0;
};

TEST(AuxiliaryWindowGuiTest, ALazySlotMakesItsControllerOnTheFirstShow) {
    int made = 0;
    CountingWindow window;
    const auto slot = makeLazyWindow([&]() -> ShowableWindow& {
        ++made;
        return window;
    });
    EXPECT_EQ(made, 0);
    slot->show();
    slot->show();
    EXPECT_EQ(window.shows, 2);
}

// Whether the window's frame sits in the middle of its screen (a frame drawn after the first
// placement may shift it by its border).
bool isCentred(const QWidget& window) {
    const QPoint offset = window.frameGeometry().center() - window.screen()->availableGeometry().center();
    return offset.manhattanLength() <= 8;
}

TEST(AuxiliaryWindowGuiTest, ShowingCentresAHiddenWindowAndCloseOnlyHidesIt) {
    testing::qtTestApp();
    QWidget window;
    setUpAuxiliaryWindow(window, "Title", QSize(300, 200));
    EXPECT_EQ(window.windowTitle(), "Title");
    EXPECT_EQ(window.size(), QSize(300, 200));
    presentAuxiliaryWindow(window);
    ASSERT_TRUE(testing::processEventsUntil([&] { return window.isVisible(); }));
    EXPECT_TRUE(isCentred(window));
    const QPoint centred = window.pos();

    window.move(centred + QPoint(40, 30));
    presentAuxiliaryWindow(window); // already visible: stays where it is
    EXPECT_EQ(window.pos(), centred + QPoint(40, 30));

    // The window manager of the test display may not activate on request; the shortcut needs an
    // active window.
    QApplication::setActiveWindow(&window);
    QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(testing::processEventsUntil([&] { return !window.isVisible(); }));
    EXPECT_FALSE(window.testAttribute(Qt::WA_DeleteOnClose));
    presentAuxiliaryWindow(window);
    ASSERT_TRUE(testing::processEventsUntil([&] { return window.isVisible(); }));
    EXPECT_TRUE(isCentred(window)) << "centred again when shown after closing";
}

} // namespace
} // namespace velnote
