#pragma once

#include "app/shell/ShellWindows.h"
#include "ui/models/ModelManagementView.h"
#include "ui/models/core/ModelManagementState.h"

#include <QWidget>
#include <memory>

namespace velnote {

// The model management window, 560 x 400 at first, titled "Model Management". Built with its
// controller and kept until the process ends; closing only hides it. Main thread.
class ModelManagementWindowController final : public ShowableWindow {
  public:
    // The application's controller, made on first use (never destroyed).
    static ModelManagementWindowController& shared();

    explicit ModelManagementWindowController(ModelManagementState::Dependencies dependencies = {});
    ~ModelManagementWindowController() override;

    // Centres the window when hidden, shows it and brings it forward; showing reads the list anew.
    void show() override;

    QWidget& window() { return *window_; }
    ModelManagementView& view() { return *view_; }
    ModelManagementState& state() { return state_; }

  private:
    ModelManagementState state_;
    std::unique_ptr<QWidget> window_;
    ModelManagementView* view_ = nullptr; // owned by window_
};

} // namespace velnote
