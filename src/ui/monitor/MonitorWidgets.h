#pragma once

// Small pieces the monitor's widgets share: localized texts as QString, the status colours, and
// the capsule and mini-button looks.

#include "ui/monitor/core/SessionRowFormatting.h"

#include <QColor>
#include <QLabel>
#include <QString>
#include <initializer_list>
#include <string>
#include <vector>

class QPushButton;
class QWidget;

namespace velnote {

QString l10n(const char* key, const char* english);
QString qs(const std::string& text);

// The colour of a tone in `widget`'s palette: fixed system-like hues, and the palette's secondary
// text colour (faint: at 40 %).
QColor toneColor(StatusTone tone, const QWidget& widget);
// "rgba(r, g, b, a)" for style sheets.
QString cssColor(const QColor& color);

// A text on a tinted capsule (status badge, tags).
void styleCapsule(QLabel& label, const QColor& text, const QColor& background, int pointSize, int weight);
// A small bordered button; `color` tints its text when valid.
QPushButton* miniButton(const QString& text, QWidget* parent, QColor color = {});

// A one-line plain-text label that never asks for more width than the layout grants: when its
// text does not fit, the part `mode` names gives way to an ellipsis. text() stays whole.
class ElidedLabel final : public QLabel {
  public:
    ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);
    ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent = nullptr);
    // What is drawn at the current width: line breaks as blanks, elided.
    QString shownText() const;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Qt::TextElideMode mode_;
};

} // namespace velnote
