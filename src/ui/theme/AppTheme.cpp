#include "ui/theme/AppTheme.h"

namespace velnote {
namespace {

QColor white(double alpha) {
    return QColor::fromRgbF(1.0, 1.0, 1.0, static_cast<float>(alpha));
}
QColor black(double alpha) {
    return QColor::fromRgbF(0.0, 0.0, 0.0, static_cast<float>(alpha));
}
QColor grey(double white) {
    const auto v = static_cast<float>(white);
    return QColor::fromRgbF(v, v, v, 1.0f);
}

} // namespace

bool AppTheme::isLight(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    return window.alpha() > 0 && window.lightnessF() > 0.5;
}

QColor AdaptiveColor::resolve(const QPalette& palette) const {
    return AppTheme::isLight(palette) ? light : dark;
}

AdaptiveColor AppTheme::solidContentBackground() {
    return {white(1.0), grey(0.14)};
}
AdaptiveColor AppTheme::solidControlBackground() {
    return {white(1.0), grey(0.10)};
}
AdaptiveColor AppTheme::hudCardBackground() {
    return {white(0.78), black(0.42)};
}
AdaptiveColor AppTheme::hudCardBorder() {
    return {black(0.20), white(0.22)};
}
AdaptiveColor AppTheme::cardBackground() {
    return {white(0.70), black(0.35)};
}
AdaptiveColor AppTheme::sectionHeaderBackground() {
    return {black(0.06), white(0.12)};
}
AdaptiveColor AppTheme::controlBackground() {
    return {white(0.88), black(0.50)};
}
AdaptiveColor AppTheme::cardBorder() {
    return {black(0.15), white(0.18)};
}
AdaptiveColor AppTheme::controlBorder() {
    return {black(0.24), white(0.26)};
}
AdaptiveColor AppTheme::separator() {
    return {black(0.12), white(0.14)};
}

} // namespace velnote
