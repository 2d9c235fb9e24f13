#include "ui/picker/RegionPickerWindow.h"

#include "ui/picker/RegionPickerGeometry.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>

namespace velnote {
namespace {

QRectF toQt(const ScreenRect& r) {
    return QRectF(r.x, r.y, r.width, r.height);
}

const QColor kDim(0, 0, 0, static_cast<int>(0.35 * 255));

} // namespace

RegionPickerWindow::RegionPickerWindow(const ScreenRect& screenFrame, QPixmap background,
                                       Completion completion)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool),
      screenFrame_(screenFrame), background_(std::move(background)), completion_(std::move(completion)) {
    setAttribute(Qt::WA_DeleteOnClose);
    if (background_.isNull())
        setAttribute(Qt::WA_TranslucentBackground);
    setGeometry(QRect(static_cast<int>(screenFrame.x), static_cast<int>(screenFrame.y),
                      static_cast<int>(screenFrame.width), static_cast<int>(screenFrame.height)));
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
}

void RegionPickerWindow::mousePressEvent(QMouseEvent* event) {
    if (finished_)
        return;
    startPoint_ = event->position();
    currentRect_.reset();
    update();
}

void RegionPickerWindow::mouseMoveEvent(QMouseEvent* event) {
    if (finished_ || !startPoint_)
        return;
    const QPointF p = event->position();
    currentRect_ = RegionPickerGeometry::selection({startPoint_->x(), startPoint_->y()}, {p.x(), p.y()});
    update();
}

void RegionPickerWindow::mouseReleaseEvent(QMouseEvent*) {
    if (finished_)
        return;
    if (currentRect_ && RegionPickerGeometry::isDeliverable(*currentRect_))
        deliver(currentRect_);
    else
        deliver(std::nullopt);
}

void RegionPickerWindow::keyPressEvent(QKeyEvent* event) {
    // Every key is taken here, so none reaches another window; only Escape acts.
    event->accept();
    if (event->key() == Qt::Key_Escape && !finished_)
        deliver(std::nullopt);
}

void RegionPickerWindow::deliver(std::optional<ScreenRect> overlayRect) {
    finished_ = true;
    unsetCursor();
    std::optional<ScreenRect> result;
    if (overlayRect)
        result = RegionPickerGeometry::toDesktop(*overlayRect, screenFrame_);
    // After the event has been handled: close first, then tell the caller, exactly once.
    QTimer::singleShot(
        0, [window = QPointer<RegionPickerWindow>(this), completion = std::move(completion_), result] {
            if (window)
                window->close();
            if (completion)
                completion(result);
        });
}

void RegionPickerWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF bounds(QPointF(0, 0), QSizeF(size()));
    if (!background_.isNull())
        painter.drawPixmap(bounds, background_, QRectF(background_.rect()));
    painter.fillRect(bounds, kDim);
    if (!currentRect_ || !RegionPickerGeometry::isDrawn(*currentRect_))
        return;
    const QRectF selection = toQt(*currentRect_);
    QPainterPath outside;
    outside.addRect(bounds);
    outside.addRect(selection);
    outside.setFillRule(Qt::OddEvenFill); // the bounds with the selection cut out
    painter.fillPath(outside, kDim);

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255, static_cast<int>(0.9 * 255)), 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(selection);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    for (const QPointF& corner :
         {selection.topLeft(), selection.topRight(), selection.bottomLeft(), selection.bottomRight()})
        painter.drawRoundedRect(QRectF(corner.x() - 4, corner.y() - 4, 8, 8), 2, 2);
    drawSizeLabel(painter, *currentRect_);
}

void RegionPickerWindow::drawSizeLabel(QPainter& painter, const ScreenRect& selection) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(11);
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    const QString text = QString::fromStdString(RegionPickerGeometry::sizeLabelText(selection));
    const QSizeF textSize = painter.fontMetrics().size(Qt::TextSingleLine, text);
    const auto origin = RegionPickerGeometry::sizeLabelOrigin(
        selection, textSize.width(), textSize.height(),
        ScreenRect{
            .x = 0, .y = 0, .width = static_cast<double>(width()), .height = static_cast<double>(height())});
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, static_cast<int>(0.55 * 255)));
    painter.drawRoundedRect(QRectF(origin.x - 4, origin.y - 2, textSize.width() + 8, textSize.height() + 4),
                            3, 3);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(origin.x, origin.y, textSize.width(), textSize.height()), Qt::AlignCenter, text);
}

} // namespace velnote
