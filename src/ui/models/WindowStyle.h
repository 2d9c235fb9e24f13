#pragma once

#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QString>

class QWidget;

// The text styles and symbol drawings the auxiliary windows share, drawn in code so that they
// show without an icon theme.
namespace velnote::WindowStyle {

// Text sizes relative to the widget's own font: headline (bold), caption (smaller), caption2
// (smaller still), subheadline (a little smaller).
void headline(QWidget& widget);
void caption(QWidget& widget);
void caption2(QWidget& widget);
void subheadline(QWidget& widget);
// Secondary foreground: the palette's placeholder-text colour; warnings use orange instead.
void secondary(QWidget& widget);
QColor secondaryColor(const QWidget& widget);

// A symbol by name: "info.circle", "doc.text.fill", "waveform.circle.fill",
// "exclamationmark.circle.fill", "folder.badge.questionmark", "tag", "doc.fill", "calendar",
// "plus", "minus.circle.fill", "arrow.right". An unknown name draws an empty square. `tint` is
// the ink; an invalid colour takes the palette's text colour of `widget`.
QIcon symbol(const QString& name, const QColor& tint);
// A label showing the symbol `size` pixels large; its property "symbol" holds the name.
QLabel* symbolLabel(const QString& name, const QColor& tint, int size, QWidget* parent = nullptr);

// A thin horizontal line between sections.
QWidget* divider(QWidget* parent = nullptr);

} // namespace velnote::WindowStyle
