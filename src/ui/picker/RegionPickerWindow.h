#pragma once

#include "app/state/ScreenRect.h"

#include <QPixmap>
#include <QPoint>
#include <QWidget>
#include <functional>
#include <optional>

namespace velnote {

// The overlay on which the user drags the screenshot region: a frameless, topmost window over one
// screen with a crosshair cursor, the screen dimmed, the selection outlined with corner handles and
// its size. Releasing the mouse delivers the selection (in desktop coordinates; none when 10
// pixels or less either way), Escape cancels; other keys do nothing. Delivery closes the window
// and then calls the completion, once, from the event loop after the finishing event. The window
// deletes itself once closed, so the caller keeps no reference. Main thread.
class RegionPickerWindow final : public QWidget {
  public:
    using Completion = std::function<void(std::optional<ScreenRect>)>;

    // Covers `screenFrame` (desktop coordinates). `background`: the screen as it looked before the
    // overlay opened, drawn under the dimming so the overlay looks transparent without a
    // compositing window manager; a null pixmap leaves the window translucent instead.
    RegionPickerWindow(const ScreenRect& screenFrame, QPixmap background, Completion completion);

    // The current selection in the overlay's pixels (for tests and drawing).
    std::optional<ScreenRect> currentRect() const { return currentRect_; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void deliver(std::optional<ScreenRect> overlayRect);
    void drawSizeLabel(class QPainter& painter, const ScreenRect& selection);

    ScreenRect screenFrame_;
    QPixmap background_;
    Completion completion_;
    std::optional<QPointF> startPoint_;
    std::optional<ScreenRect> currentRect_;
    bool finished_ = false; // a finishing event came: later events change nothing
};

} // namespace velnote
