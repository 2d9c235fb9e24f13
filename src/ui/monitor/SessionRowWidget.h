#pragma once

#include "app/state/AppState.h"
#include "ui/monitor/core/SessionRowModel.h"

#include <QFrame>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace velnote {

// One row of the session list: status badge, name with its tags and subtitle, step badges, the
// view control, the action buttons, reveal and expand; expanded, the step details, the
// configuration and the lock line. Keeps its own state (SessionRowModel) while its folder stays
// in the list; the list hands it newer snapshots with update(). Main thread.
class SessionRowWidget final : public QFrame {
  public:
    struct Actions {
        std::function<void()> onView;
        std::function<void()> onRetry;
        std::function<void()> onRemove;
        std::function<void()> onClose;
        std::function<void()> onDelete;
        std::function<void()> onOpen;
        std::function<void()> onReveal;
        // The row calls `done` when the stop has returned.
        std::function<void(std::function<void()> done)> onStop;
        // A version chosen in the view menu.
        std::function<void(const SummaryVersion&)> onViewVersion;
    };

    SessionRowWidget(SessionStatusSnapshot snapshot, bool isActionPending, Actions actions,
                     AppState& appState, QWidget* parent = nullptr);
    ~SessionRowWidget() override;

    void update(SessionStatusSnapshot snapshot, bool isActionPending);
    const SessionRowModel& model() const { return model_; }

    // For the tests: presses as the user would.
    void toggleExpanded();
    void pressStop();

  private:
    void buildHeader();
    void render();
    void renderDetails();
    void renderViewControl();
    void loadVersions(SessionRowModel::VersionLoad load);
    void checkExpandRequest(const std::optional<std::filesystem::path>& request);
    void updateClock();

    SessionRowModel model_;
    Actions actions_;
    AppState& appState_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    AppState::ObservationToken expandToken_;

    QLabel* statusBadge_ = nullptr;
    QLabel* name_ = nullptr;
    QLabel* nightlyTag_ = nullptr;
    QLabel* savedTag_ = nullptr;
    QLabel* subtitle_ = nullptr;
    QWidget* stepBadges_ = nullptr;
    QPushButton* viewButton_ = nullptr;
    QToolButton* viewMenu_ = nullptr;
    QPushButton* retry_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* close_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* delete_ = nullptr;
    QToolButton* reveal_ = nullptr;
    QToolButton* expand_ = nullptr;
    QWidget* details_ = nullptr;
    QTimer* clock_ = nullptr;
};

} // namespace velnote
