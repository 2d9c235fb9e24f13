#pragma once

#include "ui/models/core/ModelManagementState.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

namespace velnote {

// One row of the model list: the kind's symbol, the name, and the kind, size and age.
class ModelListItemView final : public QWidget {
  public:
    explicit ModelListItemView(const ModelInfo& model, QWidget* parent = nullptr);

    const ModelInfo& model() const { return model_; }

  private:
    ModelInfo model_;
};

// The model management window's content: a header with the total size and the "Clear" and
// "Delete" buttons, a note on speech repositories, and the list (or the loading, error or empty
// state in its place). Every appearance reads the list anew; "Delete" asks first. Draws from
// `state` after each of its changes. Main thread.
class ModelManagementView final : public QWidget {
  public:
    explicit ModelManagementView(ModelManagementState& state, QWidget* parent = nullptr);
    ~ModelManagementView() override;

    // The pages of the model area, for tests: "loading", "error", "empty" or "list".
    QString currentArea() const;
    QPushButton* clearButton() const { return clearButton_; }
    QPushButton* deleteButton() const { return deleteButton_; }
    QListWidget* list() const { return list_; }
    QLabel* totalLabel() const { return totalLabel_; }
    QLabel* errorLabel() const { return errorLabel_; }
    // The delete confirmation while it is open.
    QMessageBox* confirmation() const { return confirmation_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void render();
    void renderList();
    void syncSelectionToList();
    void openConfirmation();
    QWidget* buildHeader();
    QWidget* buildNote();
    QWidget* buildArea();

    ModelManagementState& state_;
    QLabel* totalLabel_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QStackedWidget* area_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QListWidget* list_ = nullptr;
    QPointer<QMessageBox> confirmation_;
    std::vector<std::string> shownIds_; // the rows the list holds, in order
    bool syncing_ = false;              // the list's selection is being set from the state
};

} // namespace velnote
