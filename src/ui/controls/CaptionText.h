#pragma once

#include <QLabel>
#include <string>

namespace velnote {

// The small texts under controls: a note in the secondary text colour, a warning in orange, an
// error in red, all in the caption font (a size below the widget's own).
enum class CaptionTone { note, warning, error };

void applyCaptionStyle(QWidget& widget, CaptionTone tone = CaptionTone::note);
QLabel* makeCaption(const std::string& text, CaptionTone tone = CaptionTone::note, QWidget* parent = nullptr);

} // namespace velnote
