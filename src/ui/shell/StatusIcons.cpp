#include "ui/shell/StatusIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cstring>

namespace velnote {
namespace {

constexpr int kSize = 64; // scaled down by the tray
const QColor kInk(0x4a, 0x4a, 0x4a);
const QColor kRecord(0xd9, 0x30, 0x25);

void drawMic(QPainter& p) {
    p.setPen(QPen(kInk, 5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(22, 6, 20, 32), 10, 10);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(14, 16, 36, 32), 180 * 16, 180 * 16);
    p.drawLine(QPointF(32, 48), QPointF(32, 58));
}

void drawHourglass(QPainter& p) {
    p.setPen(QPen(kInk, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(16, 6);
    path.lineTo(48, 6);
    path.lineTo(16, 58);
    path.lineTo(48, 58);
    path.closeSubpath();
    p.drawPath(path);
}

void drawStopCircle(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kRecord);
    p.drawEllipse(QRectF(4, 4, 56, 56));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(22, 22, 20, 20), 3, 3);
}

void drawExclamationCircle(QPainter& p) {
    p.setPen(QPen(kRecord, 5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5, 5, 54, 54));
    p.setPen(QPen(kRecord, 7, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 16), QPointF(32, 36));
    p.drawPoint(QPointF(32, 47));
}

} // namespace

const char* statusSymbolName(RecordingState::Phase phase) {
    switch (phase) {
    case RecordingState::Phase::idle:
        return "mic";
    case RecordingState::Phase::starting:
    case RecordingState::Phase::stopping:
        return "hourglass";
    case RecordingState::Phase::recording:
        return "stop.circle.fill";
    case RecordingState::Phase::error:
        return "exclamationmark.circle";
    }
    return "mic";
}

QIcon statusIcon(RecordingState::Phase phase) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const char* symbol = statusSymbolName(phase);
    if (std::strcmp(symbol, "hourglass") == 0) {
        drawHourglass(painter);
    } else if (std::strcmp(symbol, "stop.circle.fill") == 0) {
        drawStopCircle(painter);
    } else if (std::strcmp(symbol, "exclamationmark.circle") == 0) {
        drawExclamationCircle(painter);
    } else {
        drawMic(painter);
    }
    painter.end();
    return QIcon(pixmap);
}

} // namespace velnote
