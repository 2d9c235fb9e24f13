#include "ui/monitor/MonitorWidgets.h"

#include "session/l10n/L10n.h"

#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QWidget>

namespace velnote {

QString l10n(const char* key, const char* english) {
    return QString::fromStdString(L10n::localized(key, english));
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QColor toneColor(StatusTone tone, const QWidget& widget) {
    switch (tone) {
    case StatusTone::blue:
        return QColor(0, 122, 255);
    case StatusTone::green:
        return QColor(40, 167, 69);
    case StatusTone::orange:
        return QColor(255, 149, 0);
    case StatusTone::red:
        return QColor(255, 59, 48);
    case StatusTone::secondary:
    case StatusTone::faint: {
        QColor color = widget.palette().color(QPalette::PlaceholderText);
        if (tone == StatusTone::faint)
            color.setAlphaF(0.4f);
        return color;
    }
    }
    return widget.palette().color(QPalette::WindowText);
}

QString cssColor(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF(), 0, 'f', 2);
}

void styleCapsule(QLabel& label, const QColor& text, const QColor& background, int pointSize, int weight) {
    label.setAlignment(Qt::AlignCenter);
    label.setStyleSheet(
        QStringLiteral("QLabel { color: %1; background: %2; border-radius: 7px; padding: 2px 5px; "
                       "font-size: %3pt; font-weight: %4; }")
            .arg(cssColor(text), cssColor(background))
            .arg(pointSize)
            .arg(weight));
}

QPushButton* miniButton(const QString& text, QWidget* parent, QColor color) {
    auto* button = new QPushButton(text, parent);
    QFont font = button->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    button->setFont(font);
    if (color.isValid())
        button->setStyleSheet(
            QStringLiteral("QPushButton { color: %1; padding: 1px 8px; }").arg(cssColor(color)));
    else
        button->setStyleSheet(QStringLiteral("QPushButton { padding: 1px 8px; }"));
    return button;
}

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : ElidedLabel({}, mode, parent) {}

ElidedLabel::ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(text, parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
}

QString ElidedLabel::shownText() const {
    QString line = text();
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return fontMetrics().elidedText(line, mode_, contentsRect().width());
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                          shownText(), foregroundRole());
}

} // namespace velnote
