#include "ui/monitor/CloseSessionConfirmView.h"

#include "session/l10n/L10n.h"
#include "ui/monitor/MonitorWidgets.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velnote {

CloseSessionConfirmView::CloseSessionConfirmView(const SessionStatusSnapshot& snapshot, bool deleteMediaFiles,
                                                 std::function<void(bool)> onDeleteMediaFilesChanged,
                                                 std::function<void()> onCancel,
                                                 std::function<void(bool)> onConfirm, QWidget* parent)
    : QDialog(parent), onDeleteMediaFilesChanged_(std::move(onDeleteMediaFilesChanged)),
      onCancel_(std::move(onCancel)), onConfirm_(std::move(onConfirm)) {
    setWindowTitle(l10n("L10n.SessionMonitor.closeSessionTitle", "Close Session?"));
    setMinimumWidth(380);
    setMaximumWidth(460);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);

    auto* title = new QLabel(l10n("L10n.SessionMonitor.closeSessionTitle", "Close Session?"), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    layout->addWidget(title);
    auto* message =
        new QLabel(qs(L10n::localized("L10n.Common.moveSessionMessage",
                                      "Move %@ to the user-specified save location.", {snapshot.dirName})),
                   this);
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setStyleSheet(
        QStringLiteral("QLabel { color: %1; }").arg(cssColor(toneColor(StatusTone::secondary, *this))));
    layout->addWidget(message);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    layout->addWidget(divider);

    auto* options = new QVBoxLayout;
    options->setSpacing(8);
    option_ = new QCheckBox(
        l10n("L10n.SessionMonitor.deleteMediaFilesOption", "Delete audio data and screenshots"), this);
    option_->setChecked(deleteMediaFiles);
    options->addWidget(option_);
    note_ = new QLabel(
        l10n("L10n.SessionMonitor.deleteMediaFilesNote",
             "Deletes audio files and screenshots to reduce storage when moving to the save folder.\n"
             "Screenshots referenced in Markdown files are kept.\n"
             "This action cannot be undone. The Open button will no longer be shown."),
        this);
    note_->setWordWrap(true);
    QFont noteFont = note_->font();
    noteFont.setPointSizeF(noteFont.pointSizeF() * 0.85);
    note_->setFont(noteFont);
    options->addWidget(note_);
    layout->addLayout(options);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* cancel = new QPushButton(l10n("L10n.Common.cancel", "Cancel"), this);
    close_ = new QPushButton(l10n("L10n.Common.close", "Close"), this);
    close_->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(close_);
    layout->addLayout(buttons);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);
    connect(option_, &QCheckBox::toggled, this, [this](bool on) {
        if (onDeleteMediaFilesChanged_)
            onDeleteMediaFilesChanged_(on);
        render();
    });
    render();
}

void CloseSessionConfirmView::render() {
    const bool on = option_->isChecked();
    note_->setVisible(on);
    close_->setStyleSheet(
        on ? QStringLiteral("QPushButton { color: %1; }").arg(cssColor(toneColor(StatusTone::red, *this)))
           : QString());
    adjustSize();
}

void CloseSessionConfirmView::accept() {
    const bool deleteMedia = option_->isChecked();
    QDialog::accept();
    if (!answered_ && onConfirm_) {
        answered_ = true;
        onConfirm_(deleteMedia);
    }
}

void CloseSessionConfirmView::reject() {
    QDialog::reject();
    if (!answered_ && onCancel_) {
        answered_ = true;
        onCancel_();
    }
}

} // namespace velnote
