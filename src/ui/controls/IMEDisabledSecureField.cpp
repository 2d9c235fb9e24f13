#include "ui/controls/IMEDisabledSecureField.h"

#include <QFocusEvent>

namespace velnote {

IMEDisabledSecureField::IMEDisabledSecureField(const std::string& placeholder, Binding<std::string> text,
                                               QWidget* parent)
    : QLineEdit(parent), text_(std::move(text)) {
    setEchoMode(QLineEdit::Password);
    setPlaceholderText(QString::fromStdString(placeholder));
    disableInputMethods();
    // textEdited comes only from the user's edits, never from refresh()'s setText.
    connect(this, &QLineEdit::textEdited, this,
            [this](const QString& edited) { text_.set(edited.toStdString()); });
    refresh();
}

void IMEDisabledSecureField::refresh() {
    const QString value = QString::fromStdString(text_.get());
    if (value != text()) {
        setText(value);
    }
}

void IMEDisabledSecureField::focusInEvent(QFocusEvent* event) {
    disableInputMethods();
    QLineEdit::focusInEvent(event);
}

QVariant IMEDisabledSecureField::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (query == Qt::ImEnabled) {
        return false;
    }
    return QLineEdit::inputMethodQuery(query);
}

void IMEDisabledSecureField::disableInputMethods() {
    // QLineEdit re-enables input methods whenever its read-only state or echo mode is set.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText |
                        Qt::ImhNoAutoUppercase | Qt::ImhLatinOnly);
}

} // namespace velnote
