#include "ui/monitor/SessionMonitorWindowController.h"

#include "ui/monitor/MonitorWidgets.h"
#include "ui/monitor/SessionMonitorView.h"

#include <QApplication>
#include <QKeySequence>
#include <QScreen>
#include <QShortcut>

namespace velnote {

namespace {

void centre(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

} // namespace

SessionMonitorWindowController::SessionMonitorWindowController(SessionMonitorModel::Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {}

SessionMonitorWindowController::~SessionMonitorWindowController() = default;

void SessionMonitorWindowController::show() {
    if (!view_) {
        view_ = std::make_unique<SessionMonitorView>(dependencies_);
        view_->setWindowTitle(l10n("L10n.SessionMonitor.sessionStatus", "Session Status"));
        view_->resize(640, 480);
        // Only while this window is the active one; the shortcut takes the key press.
        auto* closeShortcut = new QShortcut(QKeySequence::Close, view_.get());
        closeShortcut->setContext(Qt::WindowShortcut);
        QObject::connect(closeShortcut, &QShortcut::activated, view_.get(), &QWidget::close);
        centre(*view_);
    }
    if (!view_->isVisible())
        centre(*view_);
    view_->show();
    view_->raise();
    view_->activateWindow();
}

} // namespace velnote
