#pragma once

#include "ui/recording/RecordingViewRules.h"

#include <QColor>
#include <QLabel>
#include <QString>
#include <QVariantAnimation>
#include <QWidget>
#include <array>
#include <string_view>

class QTimer;

namespace velnote {

// A text through L10n with its key and English default.
QString localizedText(const char* key, const char* english);
QString toQString(std::string_view text);

// A glyph for a symbol name of the panel ("chevron.right", "camera", ...): the desktop has no
// symbol set of its own, so each symbol is drawn as a character every font carries.
QString symbolGlyph(std::string_view symbol);
QColor toneColor(recording_view::LevelTone tone, const QPalette& palette);
void setTextColor(QWidget& widget, const QColor& color);
QColor secondaryColor(const QPalette& palette);
QColor tertiaryColor(const QPalette& palette);

// A label that reports its symbol name, so a test can read which symbol is shown.
class SymbolLabel : public QLabel {
  public:
    explicit SymbolLabel(std::string_view symbol, QWidget* parent = nullptr);
    void setSymbol(std::string_view symbol);
    QString symbol() const { return objectName(); }
};

// The red recording dot, breathing between 0.8 and 1.2 while it is shown.
class RecordingDot : public QWidget {
  public:
    explicit RecordingDot(QWidget* parent = nullptr);
    bool isPulsing() const { return animation_.state() == QAbstractAnimation::Running; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QVariantAnimation animation_; // 0 (small, faint) to 1 (large, opaque)
};

// One level meter: a track and a bar of `level` of its width.
class LevelBar : public QWidget {
  public:
    explicit LevelBar(QWidget* parent = nullptr);
    void setLevel(double level, bool muted);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double level_ = 0;
    bool muted_ = false;
};

// The compact layout's 18 bars, a sine wave travelling along them and scaled by the level.
class CompactWaveform : public QWidget {
  public:
    explicit CompactWaveform(QWidget* parent = nullptr);
    void setLevels(double mic, double sys);
    std::array<double, 18> barHeights() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    double mic_ = 0;
    double sys_ = 0;
    QVariantAnimation phase_; // 0 to 2π every 0.6 s while shown
};

} // namespace velnote
