#include "ui/controls/CaptionText.h"

#include <QPalette>
#include <algorithm>

namespace velnote {

void applyCaptionStyle(QWidget& widget, CaptionTone tone) {
    QFont font = widget.font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(std::max(7.0, font.pointSizeF() - 2.0));
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(std::max(9, font.pixelSize() - 2));
    }
    widget.setFont(font);
    QPalette palette = widget.palette();
    switch (tone) {
    case CaptionTone::note:
        palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
        break;
    case CaptionTone::warning:
        palette.setColor(QPalette::WindowText, QColor(255, 149, 0));
        break;
    case CaptionTone::error:
        palette.setColor(QPalette::WindowText, QColor(255, 59, 48));
        break;
    }
    widget.setPalette(palette);
}

QLabel* makeCaption(const std::string& text, CaptionTone tone, QWidget* parent) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    applyCaptionStyle(*label, tone);
    return label;
}

} // namespace velnote
