#pragma once

#include "ui/controls/ModelPickerState.h"

#include <QWidget>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace velnote {

// The one-line control that chooses a remote provider's model: a pop-up of identifiers with a
// refresh button that fetches the current list, "Custom..." for an identifier the list lacks, an
// optional "Free models only" check box and a red line when a fetch fails. It never fetches on
// its own when shown. Main thread only; the state behind it is a ModelPickerState.
class ModelPickerField : public QWidget {
  public:
    explicit ModelPickerField(ModelPickerConfig config, QWidget* parent = nullptr);
    // For tests: fetches on `worker`, answers through `main`.
    ModelPickerField(ModelPickerConfig config, platform::Executor& worker, platform::Executor& main,
                     QWidget* parent = nullptr);
    ~ModelPickerField() override;

    // Brings the widgets up to date with the bindings after their owner changed them.
    void refresh();

    ModelPickerState& model() { return *model_; }

    // The parts, for tests and for hosts that lay out labels of their own.
    QLabel* titleLabel() const { return title_; }
    QComboBox* picker() const { return picker_; }
    QToolButton* refreshButton() const { return refreshButton_; }
    QLineEdit* customField() const { return customField_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QCheckBox* freeOnlyBox() const { return freeOnlyBox_; }
    QLabel* errorLabel() const { return errorLabel_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build();
    void fillPicker();
    void choose(int index);

    std::shared_ptr<ModelPickerState> model_;
    QLabel* title_ = nullptr;
    QStackedWidget* line_ = nullptr;
    QComboBox* picker_ = nullptr;
    QToolButton* refreshButton_ = nullptr;
    QProgressBar* spinner_ = nullptr;
    QLineEdit* customField_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QCheckBox* freeOnlyBox_ = nullptr;
    QLabel* errorLabel_ = nullptr;
};

} // namespace velnote
