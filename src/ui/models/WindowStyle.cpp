#include "ui/models/WindowStyle.h"

#include <QFrame>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>
#include <map>

namespace velnote::WindowStyle {
namespace {

constexpr int kCanvas = 64;

void scaleFont(QWidget& widget, double factor, bool bold = false) {
    QFont font = widget.font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(std::max(8, static_cast<int>(font.pixelSize() * factor)));
    }
    font.setBold(bold);
    widget.setFont(font);
}

void circle(QPainter& p, const QColor& ink, bool filled) {
    p.setPen(filled ? QPen(Qt::NoPen) : QPen(ink, 5));
    p.setBrush(filled ? QBrush(ink) : QBrush(Qt::NoBrush));
    p.drawEllipse(QRectF(6, 6, 52, 52));
}

void page(QPainter& p, const QColor& ink) {
    QPainterPath path;
    path.moveTo(14, 6);
    path.lineTo(40, 6);
    path.lineTo(52, 18);
    path.lineTo(52, 58);
    path.lineTo(14, 58);
    path.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(path);
}

using Drawing = std::function<void(QPainter&, const QColor&)>;

const std::map<QString, Drawing>& drawings() {
    static const std::map<QString, Drawing> table{
        {"info.circle",
         [](QPainter& p, const QColor& ink) {
             circle(p, ink, false);
             p.setPen(QPen(ink, 6, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(32, 28), QPointF(32, 46));
             p.drawPoint(QPointF(32, 18));
         }},
        {"doc.text.fill",
         [](QPainter& p, const QColor& ink) {
             page(p, ink);
             p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
             for (int y : {26, 36, 46})
                 p.drawLine(QPointF(22, y), QPointF(44, y));
         }},
        {"doc.fill", [](QPainter& p, const QColor& ink) { page(p, ink); }},
        {"waveform.circle.fill",
         [](QPainter& p, const QColor& ink) {
             circle(p, ink, true);
             p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
             const int heights[] = {8, 18, 26, 14, 8};
             for (int i = 0; i < 5; ++i) {
                 const double x = 20 + i * 6;
                 p.drawLine(QPointF(x, 32 - heights[i] / 2.0), QPointF(x, 32 + heights[i] / 2.0));
             }
         }},
        {"exclamationmark.circle.fill",
         [](QPainter& p, const QColor& ink) {
             circle(p, ink, true);
             p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(32, 18), QPointF(32, 36));
             p.drawPoint(QPointF(32, 46));
         }},
        {"folder.badge.questionmark",
         [](QPainter& p, const QColor& ink) {
             p.setPen(QPen(ink, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
             p.setBrush(Qt::NoBrush);
             p.drawRoundedRect(QRectF(6, 16, 44, 34), 4, 4);
             p.drawLine(QPointF(6, 16), QPointF(10, 10));
             p.drawLine(QPointF(10, 10), QPointF(24, 10));
             QFont font = p.font();
             font.setPixelSize(26);
             font.setBold(true);
             p.setFont(font);
             p.drawText(QRectF(36, 30, 28, 34), Qt::AlignCenter, "?");
         }},
        {"tag",
         [](QPainter& p, const QColor& ink) {
             QPainterPath path;
             path.moveTo(8, 8);
             path.lineTo(30, 8);
             path.lineTo(58, 36);
             path.lineTo(36, 58);
             path.lineTo(8, 30);
             path.closeSubpath();
             p.setPen(QPen(ink, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
             p.setBrush(Qt::NoBrush);
             p.drawPath(path);
             p.drawEllipse(QRectF(17, 17, 8, 8));
         }},
        {"calendar",
         [](QPainter& p, const QColor& ink) {
             p.setPen(QPen(ink, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
             p.setBrush(Qt::NoBrush);
             p.drawRoundedRect(QRectF(8, 12, 48, 44), 6, 6);
             p.drawLine(QPointF(8, 26), QPointF(56, 26));
             p.drawLine(QPointF(22, 6), QPointF(22, 16));
             p.drawLine(QPointF(42, 6), QPointF(42, 16));
         }},
        {"plus",
         [](QPainter& p, const QColor& ink) {
             p.setPen(QPen(ink, 7, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(32, 10), QPointF(32, 54));
             p.drawLine(QPointF(10, 32), QPointF(54, 32));
         }},
        {"minus.circle.fill",
         [](QPainter& p, const QColor& ink) {
             circle(p, ink, true);
             p.setPen(QPen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap));
             p.drawLine(QPointF(20, 32), QPointF(44, 32));
         }},
        {"arrow.right",
         [](QPainter& p, const QColor& ink) {
             p.setPen(QPen(ink, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
             p.drawLine(QPointF(8, 32), QPointF(54, 32));
             p.drawLine(QPointF(36, 14), QPointF(54, 32));
             p.drawLine(QPointF(36, 50), QPointF(54, 32));
         }},
    };
    return table;
}

} // namespace

void headline(QWidget& widget) {
    scaleFont(widget, 1.0, true);
}
void caption(QWidget& widget) {
    scaleFont(widget, 0.85);
}
void caption2(QWidget& widget) {
    scaleFont(widget, 0.8);
}
void subheadline(QWidget& widget) {
    scaleFont(widget, 0.92);
}

QColor secondaryColor(const QWidget& widget) {
    QColor colour = widget.palette().color(QPalette::WindowText);
    colour.setAlphaF(0.55);
    return colour;
}

void secondary(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, secondaryColor(widget));
    palette.setColor(QPalette::Text, secondaryColor(widget));
    widget.setPalette(palette);
}

QIcon symbol(const QString& name, const QColor& tint) {
    QPixmap pixmap(kCanvas, kCanvas);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = tint.isValid() ? tint : QColor(0x4a, 0x4a, 0x4a);
    if (const auto it = drawings().find(name); it != drawings().end()) {
        it->second(painter, ink);
    } else {
        painter.setPen(QPen(ink, 4));
        painter.drawRect(QRectF(8, 8, 48, 48));
    }
    painter.end();
    return QIcon(pixmap);
}

QLabel* symbolLabel(const QString& name, const QColor& tint, int size, QWidget* parent) {
    auto* label = new QLabel(parent);
    const QColor ink = tint.isValid() ? tint : label->palette().color(QPalette::WindowText);
    label->setPixmap(symbol(name, ink).pixmap(size, size));
    label->setFixedSize(size, size);
    label->setProperty("symbol", name);
    return label;
}

QWidget* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace velnote::WindowStyle
