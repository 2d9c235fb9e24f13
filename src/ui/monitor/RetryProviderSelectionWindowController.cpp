#include "ui/monitor/RetryProviderSelectionWindowController.h"

#include "ui/monitor/MonitorWidgets.h"
#include "ui/monitor/RetryProviderSelectionForm.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace velnote {

namespace {
std::vector<RetryProviderSelectionWindowController*>& controllers() {
    static std::vector<RetryProviderSelectionWindowController*> list;
    return list;
}
} // namespace

const std::vector<RetryProviderSelectionWindowController*>&
RetryProviderSelectionWindowController::openControllers() {
    return controllers();
}

void RetryProviderSelectionWindowController::open(RetryWindowInput input, OnConfirm onConfirm) {
    auto* controller = new RetryProviderSelectionWindowController(input, std::move(onConfirm));
    controllers().push_back(controller);
    controller->show();
    controller->raise();
    controller->activateWindow();
}

RetryProviderSelectionWindowController::RetryProviderSelectionWindowController(const RetryWindowInput& input,
                                                                               OnConfirm onConfirm)
    : onConfirm_(std::move(onConfirm)) {
    setWindowTitle(l10n("L10n.SessionMonitor.retryTitle", "再試行設定"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    form_ = new RetryProviderSelectionForm(input, scroll);
    scroll->setWidget(form_);
    layout->addWidget(scroll, 1);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    layout->addWidget(line);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(16, 12, 16, 12);
    buttons->addStretch();
    auto* cancel = new QPushButton(l10n("L10n.Common.cancel", "Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    auto* retry = new QPushButton(l10n("L10n.SessionMonitor.retry", "Retry"), this);
    retry->setObjectName(QStringLiteral("retry"));
    retry->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(retry);
    layout->addLayout(buttons);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(retry, &QPushButton::clicked, this, [this] { confirm(); });
    // Ctrl+W while this dialog is the active window ends it as Cancel does.
    auto* closeKey = new QShortcut(QKeySequence::Close, this);
    closeKey->setContext(Qt::WindowShortcut);
    connect(closeKey, &QShortcut::activated, this, &QDialog::reject);

    setMinimumSize(480, 500);
    resize(480, 640);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void RetryProviderSelectionWindowController::confirm() {
    if (closed_)
        return;
    const RetryProviderSelectionState state = RetryProviderSelectionState::assemble(form_->values());
    OnConfirm handler = std::move(onConfirm_);
    accept(); // the window is asked to close first
    if (handler)
        handler(state);
}

void RetryProviderSelectionWindowController::done(int result) {
    QDialog::done(result);
    if (closed_)
        return;
    closed_ = true;
    // Later, on the main thread: the handler above may still be running on this object's stack.
    QTimer::singleShot(0, [this] {
        auto& list = controllers();
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        deleteLater();
    });
}

} // namespace velnote
