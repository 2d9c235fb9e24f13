#pragma once

#include "ui/preview/core/SummaryPreviewState.h"

#include <QWidget>
#include <string>

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

namespace velnote {

// The re-summarize panel: the note, the provider with the model control that provider takes
// (a fetched list, a typed name, or nothing), and the start button. Every control edits the
// state's selections; the start button runs the state's request. Main thread only.
class ResummarizePanel : public QWidget {
  public:
    ResummarizePanel(SummaryPreviewState& state, QWidget* parent = nullptr);

    // Brings the controls up to date with the state.
    void refresh();

    QPlainTextEdit* noteEditor() const { return note_; }
    QComboBox* providerPicker() const { return provider_; }
    QPushButton* startButton() const { return start_; }
    // The model control of the selected provider; nullptr when it takes none.
    QWidget* modelControl() const { return modelControl_; }

  private:
    void rebuildModelControl();
    void edit(const std::function<void(ResummarizeSelections&)>& change);

    SummaryPreviewState& state_;
    QPlainTextEdit* note_ = nullptr;
    QComboBox* provider_ = nullptr;
    QVBoxLayout* providerColumn_ = nullptr;
    QWidget* modelControl_ = nullptr;
    std::string modelControlProvider_;
    bool modelControlBuilt_ = false;
    QPushButton* start_ = nullptr;
    bool syncing_ = false;
};

} // namespace velnote
