#pragma once

#include "ui/monitor/core/SessionMonitorModel.h"

#include <QWidget>
#include <map>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace velnote {

class CloseSessionConfirmView;
class SessionRowWidget;

// The content of the "Session Status" window: toolbar, filter bar and the list (or its loading
// and empty placeholders), over a SessionMonitorModel. Rows keep their own state while their
// folder stays in the list. The delete and notice alerts and the close sheet are window-modal and
// never run a nested event loop. Main thread.
class SessionMonitorView final : public QWidget {
  public:
    explicit SessionMonitorView(SessionMonitorModel::Dependencies dependencies, QWidget* parent = nullptr);
    ~SessionMonitorView() override;

    SessionMonitorModel& model() { return *model_; }
    // For the tests: the row of a folder on screen, else nullptr.
    SessionRowWidget* row(const std::filesystem::path& sessionDir) const;
    QComboBox* statusFilter() const { return statusFilter_; }
    QComboBox* modelFilter() const { return modelFilter_; }
    QComboBox* providerFilter() const { return providerFilter_; }
    QLineEdit* search() const { return search_; }
    QStackedWidget* content() const { return content_; }
    QMessageBox* openAlert() const { return alert_; }
    CloseSessionConfirmView* openCloseSheet() const { return closeSheet_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void buildToolbar(QVBoxLayout* layout);
    void buildFilterBar(QVBoxLayout* layout);
    void buildContent(QVBoxLayout* layout);
    void onChange(SessionMonitorModel::Change change);
    void renderToolbar();
    void renderFilters();
    void renderList();
    void renderAlerts();
    SessionRowWidget* makeRow(const SessionStatusSnapshot& snapshot);

    std::unique_ptr<SessionMonitorModel> model_;
    QLabel* processing_ = nullptr;
    QProgressBar* refreshing_ = nullptr;
    QToolButton* refresh_ = nullptr;
    QComboBox* statusFilter_ = nullptr;
    QComboBox* modelFilter_ = nullptr;
    QComboBox* providerFilter_ = nullptr;
    QLineEdit* search_ = nullptr;
    QStackedWidget* content_ = nullptr;
    QWidget* list_ = nullptr;
    QVBoxLayout* listLayout_ = nullptr;
    std::map<std::string, SessionRowWidget*> rows_;
    QMessageBox* alert_ = nullptr;
    CloseSessionConfirmView* closeSheet_ = nullptr;
};

} // namespace velnote
