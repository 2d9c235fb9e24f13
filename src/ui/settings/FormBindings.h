#pragma once

#include "ui/controls/Binding.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QWidget;

namespace velnote {

// Builds the controls of a settings form over bindings and keeps them in step with them: a
// control writes its binding on every user change; sync() shows the bindings' current values
// (signals blocked, so showing is never taken for an edit) and the rows' visibility. The owner
// calls sync() whenever a model behind the bindings changed. Main thread only.
class FormBindings {
  public:
    using Options = std::vector<std::pair<QString, std::string>>; // title, value

    void sync() const;
    // Runs `step` on every sync() (after the controls were made).
    void onSync(std::function<void()> step) { steps_.push_back(std::move(step)); }
    // Shows `widget` only while `condition` holds.
    void visibleWhen(QWidget* widget, std::function<bool()> condition);

    QCheckBox* toggle(const std::string& title, Binding<bool> value);
    QLineEdit* textField(const std::string& placeholder, Binding<std::string> value);
    // A pop-up of `options`; a value that is none of them shows no selection and stays.
    QComboBox* picker(std::function<Options()> options, Binding<std::string> value);
    QComboBox* intPicker(std::function<std::vector<std::pair<QString, std::int64_t>>()> options,
                         Binding<std::int64_t> value);
    // A label made by `title` from the value and a spin box within [minimum, maximum].
    QWidget* stepper(std::function<std::string(std::int64_t)> title, Binding<std::int64_t> value,
                     std::int64_t minimum, std::int64_t maximum);
    // A caption made by `title` from the value over a slider from `minimum` to `maximum` in
    // `step`s. A value outside the range is shown at the nearer end and kept until the slider moves.
    QWidget* slider(std::function<std::string(double)> title, Binding<double> value, double minimum,
                    double maximum, double step);
    // A monospaced editor of `minimumHeight` pixels; `framed` adds the solid background.
    QPlainTextEdit* promptEditor(Binding<std::string> value, int minimumHeight, bool withBackground = true);
    // A text that follows `text` on every sync.
    QLabel* dynamicLabel(std::function<std::string()> text);

  private:
    std::vector<std::function<void()>> steps_;
};

// The prompt editors' look: monospaced body font, the solid control background (unless
// `withBackground` is false) and a rounded outline in the control border colour.
void applyPromptEditorStyle(QPlainTextEdit& editor, bool withBackground);

} // namespace velnote
