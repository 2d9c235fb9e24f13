#include "ui/picker/RegionPickerWindow.h"
#include "ui/shell/support/QtTestApp.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <gtest/gtest.h>

namespace velnote {
namespace {

class RegionPickerWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::qtTestApp(); }

    QPointer<RegionPickerWindow> open(const ScreenRect& frame = {
                                          .x = 1440, .y = 0, .width = 800, .height = 600}) {
        QPixmap background(static_cast<int>(frame.width), static_cast<int>(frame.height));
        background.fill(Qt::white);
        auto* window = new RegionPickerWindow(frame, background, [this](std::optional<ScreenRect> r) {
            ++calls;
            result = r;
        });
        window->show();
        return window;
    }
    static void mouse(QWidget* w, QEvent::Type type, QPointF at) {
        QMouseEvent event(type, at, w->mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }
    static void drag(QWidget* w, QPointF from, QPointF to) {
        mouse(w, QEvent::MouseButtonPress, from);
        mouse(w, QEvent::MouseMove, to);
        mouse(w, QEvent::MouseButtonRelease, to);
    }
    static void key(QWidget* w, int code) {
        QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }

    int calls = 0;
    std::optional<ScreenRect> result;
};

TEST_F(RegionPickerWindowTest, DragDeliversTheRegionInDesktopCoordinatesAndCloses) {
    QPointer<RegionPickerWindow> window = open();
    drag(window, {300, 250}, {100, 50}); // bottom-right to top-left
    EXPECT_EQ(calls, 0);                 // delivered after the event, not inside it
    ASSERT_TRUE(testing::processEventsUntil([&] { return calls > 0 && window.isNull(); }));
    EXPECT_EQ(result, (ScreenRect{.x = 1540, .y = 50, .width = 200, .height = 200}));
    QApplication::processEvents();
    EXPECT_EQ(calls, 1);
}

TEST_F(RegionPickerWindowTest, SmallDragsClicksAndEscapeCancel) {
    for (int variant = 0; variant < 3; ++variant) {
        calls = 0;
        result = ScreenRect{};
        QPointer<RegionPickerWindow> window = open();
        if (variant == 0)
            drag(window, {100, 100}, {110, 300}); // 10 pixels wide: too small
        else if (variant == 1)
            drag(window, {100, 100}, {100, 100}); // a click
        else
            key(window, Qt::Key_Escape);
        ASSERT_TRUE(testing::processEventsUntil([&] { return calls > 0 && window.isNull(); })) << variant;
        EXPECT_EQ(result, std::nullopt) << variant;
    }
}

TEST_F(RegionPickerWindowTest, OtherKeysAndLateEventsChangeNothing) {
    QPointer<RegionPickerWindow> window = open();
    key(window, Qt::Key_Return);
    key(window, Qt::Key_A);
    QApplication::processEvents();
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(window.isNull());
    mouse(window, QEvent::MouseButtonPress, {10, 10});
    mouse(window, QEvent::MouseMove, {60, 70});
    EXPECT_EQ(window->currentRect(), (ScreenRect{.x = 10, .y = 10, .width = 50, .height = 60}));
    mouse(window, QEvent::MouseButtonRelease, {60, 70});
    key(window, Qt::Key_Escape); // a second finishing event before the delivery
    mouse(window, QEvent::MouseButtonRelease, {60, 70});
    ASSERT_TRUE(testing::processEventsUntil([&] { return window.isNull(); }));
    QApplication::processEvents();
    EXPECT_EQ(calls, 1); // the caller hears once
    EXPECT_EQ(result, (ScreenRect{.x = 1450, .y = 10, .width = 50, .height = 60}));
}

TEST_F(RegionPickerWindowTest, DrawsTheDimmingAndTheSelection) {
    QPointer<RegionPickerWindow> window = open(ScreenRect{.x = 0, .y = 0, .width = 400, .height = 300});
    const QImage plain = window->grab().toImage();
    const QColor dimmed = plain.pixelColor(200, 150);
    EXPECT_LT(dimmed.red(), 200); // white under one dimming
    EXPECT_GT(dimmed.red(), 140);
    mouse(window, QEvent::MouseButtonPress, {100, 100});
    mouse(window, QEvent::MouseMove, {300, 250});
    const QImage selected = window->grab().toImage();
    EXPECT_EQ(selected.pixelColor(200, 200), dimmed);                // inside: dimmed once
    EXPECT_LT(selected.pixelColor(20, 20).red(), dimmed.red() - 20); // outside: twice
    EXPECT_GT(selected.pixelColor(100, 100).red(), 230);             // a white corner handle
    window->close();
}

} // namespace
} // namespace velnote
