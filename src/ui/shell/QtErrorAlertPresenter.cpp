#include "ui/shell/QtErrorAlertPresenter.h"

#include "ui/shell/AlertWindows.h"

#include <QMessageBox>
#include <QString>

namespace velnote {

void QtErrorAlertPresenter::showCriticalAlert(const Alert& alert, std::function<void()> dismissed) {
    QWidget* window = keyOrFirstWindow();
    auto* box = new QMessageBox(QMessageBox::Critical, QString::fromStdString(alert.title),
                                QString::fromStdString(alert.message), QMessageBox::NoButton, window);
    // Messages carry server replies and file names: "<h1>502</h1>" must show as written, not as markup.
    box->setTextFormat(Qt::PlainText);
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
