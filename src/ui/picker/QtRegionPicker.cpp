#include "ui/picker/QtRegionPicker.h"

#include "ui/picker/RegionPickerWindow.h"

#include <QGuiApplication>
#include <QScreen>

namespace velnote {

void QtRegionPicker::pickRegion(const DisplayScreen& screen,
                                std::function<void(std::optional<ScreenRect>)> completion) {
    const QRect frame(static_cast<int>(screen.frame.x), static_cast<int>(screen.frame.y),
                      static_cast<int>(screen.frame.width), static_cast<int>(screen.frame.height));
    QScreen* target = QGuiApplication::primaryScreen();
    for (QScreen* candidate : QGuiApplication::screens()) {
        if (candidate->geometry() == frame)
            target = candidate;
    }
    // The screen as it is now, drawn under the dimming (X draws no transparency without a
    // compositing manager).
    QPixmap background;
    if (target != nullptr && !frame.isEmpty())
        background = target->grabWindow(0, frame.x() - target->geometry().x(),
                                        frame.y() - target->geometry().y(), frame.width(), frame.height());
    auto* window = new RegionPickerWindow(screen.frame, background, std::move(completion));
    if (target != nullptr)
        window->setScreen(target);
    window->show();
    window->raise();
    window->activateWindow();
    window->setFocus();
}

} // namespace velnote
