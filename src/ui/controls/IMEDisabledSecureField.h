#pragma once

#include "ui/controls/Binding.h"

#include <QLineEdit>
#include <string>

namespace velnote {

// The one-line field for an API key or another secret: characters show as bullets and input
// methods stay off while it has the focus, so keys go in as typed with no composition window.
// It stores nothing itself: every edit (typing, deleting, pasting, cutting) is written into `text`
// at once, untrimmed; the host decides when to keep it. Main thread only.
class IMEDisabledSecureField : public QLineEdit {
  public:
    // The placeholder is fixed here; the field's text comes from `text` right away.
    IMEDisabledSecureField(const std::string& placeholder, Binding<std::string> text,
                           QWidget* parent = nullptr);

    // Shows the binding's current value when it differs from the field's (a reload or reset by
    // the host); otherwise touches nothing, so the cursor and selection stay where they are.
    void refresh();

  protected:
    // Qt turns input methods back on for a focused line edit; they are switched off again here.
    void focusInEvent(QFocusEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

  private:
    void disableInputMethods();

    Binding<std::string> text_;
};

} // namespace velnote
