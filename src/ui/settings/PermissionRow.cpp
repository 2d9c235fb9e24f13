#include "ui/settings/PermissionRow.h"

#include "session/l10n/L10n.h"
#include "ui/controls/CaptionText.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace velnote {

PermissionRow::PermissionRow(const QString& iconName, const std::string& title, const std::string& subtitle,
                             std::function<void()> action, QWidget* parent)
    : QWidget(parent), iconName_(iconName) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    icon_ = new QLabel(this);
    icon_->setFixedSize(24, 24);
    icon_->setAlignment(Qt::AlignCenter);
    row->addWidget(icon_, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* titleLabel = new QLabel(QString::fromStdString(title), this);
    titleLabel->setTextFormat(Qt::PlainText);
    texts->addWidget(titleLabel);
    texts->addWidget(makeCaption(subtitle, CaptionTone::note, this));
    status_ = makeCaption("", CaptionTone::note, this);
    texts->addWidget(status_);
    row->addLayout(texts, 1);

    button_ = new QPushButton(
        QString::fromStdString(L10n::localized("L10n.Preferences.openSettings", "Open Settings")), this);
    QObject::connect(button_, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    row->addWidget(button_, 0, Qt::AlignTop);
    setGranted(false);
}

void PermissionRow::setGranted(bool granted) {
    status_->setText(QString::fromStdString(
        granted ? L10n::localized("L10n.Preferences.permissionGranted", "Granted")
                : L10n::localized("L10n.Preferences.permissionNotGranted", "Not Granted")));
    QColor color = granted ? QColor(52, 199, 89) : QColor(255, 59, 48);
    color.setAlphaF(0.8);
    QPalette palette = status_->palette();
    palette.setColor(QPalette::WindowText, color);
    status_->setPalette(palette);
    // The desktop's icon theme names the symbol when it has one; a standard icon otherwise.
    const QIcon themed = QIcon::fromTheme(iconName_);
    const QIcon icon = themed.isNull() ? style()->standardIcon(granted ? QStyle::SP_DialogApplyButton
                                                                       : QStyle::SP_MessageBoxWarning)
                                       : themed;
    icon_->setPixmap(icon.pixmap(20, 20));
}

} // namespace velnote
