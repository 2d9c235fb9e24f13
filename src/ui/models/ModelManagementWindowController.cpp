#include "ui/models/ModelManagementWindowController.h"

#include "session/l10n/L10n.h"
#include "ui/shell/AuxiliaryWindow.h"

#include <QVBoxLayout>

namespace velnote {

ModelManagementWindowController& ModelManagementWindowController::shared() {
    static auto* controller = new ModelManagementWindowController();
    return *controller;
}

ModelManagementWindowController::ModelManagementWindowController(
    ModelManagementState::Dependencies dependencies)
    : state_(std::move(dependencies)), window_(std::make_unique<QWidget>()) {
    setUpAuxiliaryWindow(
        *window_, QString::fromStdString(L10n::localized("L10n.Windows.modelManagement", "Model Management")),
        QSize(560, 400));
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new ModelManagementView(state_, window_.get());
    layout->addWidget(view_);
}

ModelManagementWindowController::~ModelManagementWindowController() {
    window_.reset();
}

void ModelManagementWindowController::show() {
    presentAuxiliaryWindow(*window_);
}

} // namespace velnote
