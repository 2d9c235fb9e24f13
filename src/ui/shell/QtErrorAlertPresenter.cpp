#include "ui/shell/QtErrorAlertPresenter.h"

#include "ui/shell/AlertWindows.h"

#include <QMessageBox>
#include <QString>

namespace velnote {

void QtErrorAlertPresenter::showCriticalAlert(const Alert& alert, std::function<void()> dismissed) {
    QWidget* window = keyOrFirstWindow();
    auto* box = new QMessageBox(QMessageBox::Critical, QString::fromStdString(alert.title),
                                QString::fromStdString(alert.message), QMessageBox::NoButton, window);
    box->addButton(QString::fromStdString(alert.buttonTitle), QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QDialog::finished, box, [dismissed = std::move(dismissed)](int) {
        if (dismissed) {
            dismissed();
        }
    });
    showModal(*box, window);
}

} // namespace velnote
