#include "ui/models/AboutWindowController.h"

#include "session/l10n/L10n.h"
#include "ui/shell/AuxiliaryWindow.h"

#include <QVBoxLayout>

namespace velnote {

AboutWindowController& AboutWindowController::shared() {
    static auto* controller = new AboutWindowController();
    return *controller;
}

AboutWindowController::AboutWindowController(AboutView::Sources sources)
    : window_(std::make_unique<QWidget>()) {
    setUpAuxiliaryWindow(
        *window_, QString::fromStdString(L10n::localized("L10n.MenuBar.aboutWindowTitle", "About Hushtape")),
        QSize(780, 560));
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new AboutView(std::move(sources), window_.get());
    layout->addWidget(view_);
}

AboutWindowController::~AboutWindowController() {
    window_.reset();
}

void AboutWindowController::show() {
    if (!window_->isVisible())
        view_->rebuild();
    presentAuxiliaryWindow(*window_);
}

} // namespace velnote
