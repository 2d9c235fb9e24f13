#include "ui/recording/RecordingWidgets.h"

#include "session/l10n/L10n.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <map>
#include <numbers>

namespace velnote {

QString localizedText(const char* key, const char* english) {
    return QString::fromStdString(L10n::localized(key, english));
}

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString symbolGlyph(std::string_view symbol) {
    static const std::map<std::string_view, const char*> glyphs{
        {"chevron.right", "\u25B8"},
        {"chevron.down", "\u25BE"},
        {"speaker.wave.2", "\u266A"},
        {"person.crop.rectangle.stack", "\u2637"},
        {"text.bubble", "\u275D"},
        {"sparkles", "\u2726"},
        {"sparkles.rectangle.stack", "\u2727"},
        {"rectangle.compress.vertical", "\u2912"},
        {"rectangle.expand.vertical", "\u2913"},
        {"speaker.wave.2.fill", "\u266B"},
        {"speaker.slash.fill", "\u2298"},
        {"arrow.clockwise", "\u21BB"},
        {"globe", "\u2641"},
        {"doc.on.doc", "\u2398"},
        {"camera", "\u25C9"},
        {"viewfinder", "\u2B1A"},
        {"viewfinder.circle.fill", "\u25CE"},
        {"folder", "\u25A4"},
        {"stop.fill", "\u25A0"},
        {"gearshape", "\u2699"},
    };
    const auto found = glyphs.find(symbol);
    return found == glyphs.end() ? QString() : QString::fromUtf8(found->second);
}

QColor secondaryColor(const QPalette& palette) {
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.62f);
    return color;
}

QColor tertiaryColor(const QPalette& palette) {
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.38f);
    return color;
}

QColor toneColor(recording_view::LevelTone tone, const QPalette& palette) {
    using recording_view::LevelTone;
    switch (tone) {
    case LevelTone::muted: {
        QColor color = secondaryColor(palette);
        color.setAlphaF(0.35f);
        return color;
    }
    case LevelTone::green:
        return QColor(52, 199, 89);
    case LevelTone::orange:
        return QColor(255, 149, 0);
    case LevelTone::red:
        break;
    }
    return QColor(255, 59, 48);
}

void setTextColor(QWidget& widget, const QColor& color) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::Text, color);
    widget.setPalette(palette);
}

SymbolLabel::SymbolLabel(std::string_view symbol, QWidget* parent) : QLabel(parent) {
    setSymbol(symbol);
}

void SymbolLabel::setSymbol(std::string_view symbol) {
    setObjectName(toQString(symbol));
    setText(symbolGlyph(symbol));
}

RecordingDot::RecordingDot(QWidget* parent) : QWidget(parent) {
    setFixedSize(16, 16);
    animation_.setStartValue(0.0);
    animation_.setEndValue(1.0);
    animation_.setDuration(1000);
    animation_.setEasingCurve(QEasingCurve::InOutQuad);
    // Forward then backward, for ever: the dot breathes.
    QObject::connect(&animation_, &QVariantAnimation::finished, this, [this] {
        animation_.setDirection(animation_.direction() == QAbstractAnimation::Forward
                                    ? QAbstractAnimation::Backward
                                    : QAbstractAnimation::Forward);
        animation_.start();
    });
    QObject::connect(&animation_, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void RecordingDot::paintEvent(QPaintEvent*) {
    const double t = animation_.currentValue().toDouble();
    const double diameter = 10 * (0.8 + 0.4 * t);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(0.4 + 0.6 * t);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 59, 48));
    painter.drawEllipse(QPointF(width() / 2.0, height() / 2.0), diameter / 2, diameter / 2);
}

void RecordingDot::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    animation_.setDirection(QAbstractAnimation::Forward);
    animation_.start();
}

void RecordingDot::hideEvent(QHideEvent* event) {
    animation_.stop();
    animation_.setCurrentTime(0);
    QWidget::hideEvent(event);
}

LevelBar::LevelBar(QWidget* parent) : QWidget(parent) {
    setFixedHeight(6);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LevelBar::setLevel(double level, bool muted) {
    if (level == level_ && muted == muted_) {
        return;
    }
    level_ = level;
    muted_ = muted;
    update();
}

void LevelBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor track = secondaryColor(palette());
    track.setAlphaF(0.16f);
    painter.setBrush(track);
    painter.drawRoundedRect(rect(), 3, 3);
    const double filled = std::clamp(std::isnan(level_) ? 0.0 : level_, 0.0, 1.0) * width();
    if (filled > 0) {
        painter.setBrush(toneColor(recording_view::levelTone(level_, muted_), palette()));
        painter.drawRoundedRect(QRectF(0, 0, filled, height()), 3, 3);
    }
}

CompactWaveform::CompactWaveform(QWidget* parent) : QWidget(parent) {
    setFixedHeight(38);
    setMinimumWidth(18 * 3.5 + 17 * 3);
    phase_.setStartValue(0.0);
    phase_.setEndValue(2 * std::numbers::pi);
    phase_.setDuration(600);
    phase_.setLoopCount(-1);
    QObject::connect(&phase_, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void CompactWaveform::setLevels(double mic, double sys) {
    mic_ = mic;
    sys_ = sys;
    update();
}

std::array<double, 18> CompactWaveform::barHeights() const {
    return recording_view::waveformBarHeights(mic_, sys_, phase_.currentValue().toDouble());
}

void CompactWaveform::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const auto heights = barHeights();
    const double barWidth = 3.5;
    const double spacing = 3;
    const double total = 18 * barWidth + 17 * spacing;
    double x = (width() - total) / 2;
    for (double barHeight : heights) {
        const double h = std::min(barHeight, static_cast<double>(height()));
        const QRectF bar(x, (height() - h) / 2, barWidth, h);
        QLinearGradient gradient(bar.topLeft(), bar.bottomLeft());
        gradient.setColorAt(0, QColor(255, 59, 48));
        gradient.setColorAt(1, QColor(255, 149, 0, 217));
        painter.setBrush(gradient);
        painter.drawRoundedRect(bar, barWidth / 2, barWidth / 2);
        x += barWidth + spacing;
    }
}

void CompactWaveform::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    phase_.start();
}

void CompactWaveform::hideEvent(QHideEvent* event) {
    phase_.stop();
    QWidget::hideEvent(event);
}

} // namespace velnote
