#include "ui/shell/QtPromptAlertPresenter.h"

#include "ui/shell/AlertWindows.h"

#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <memory>

namespace velnote {

QtPromptAlertPresenter::~QtPromptAlertPresenter() {
    dismissPrompt();
}

void QtPromptAlertPresenter::showPrompt(const Prompt& prompt, std::function<void(Response)> answered) {
    QWidget* window = firstVisibleNonPanelWindow();
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(prompt.title),
                                QString::fromStdString(prompt.message), QMessageBox::NoButton, window);
    box->setTextFormat(Qt::PlainText);
    QPushButton* confirm =
        box->addButton(QString::fromStdString(prompt.confirmTitle), QMessageBox::AcceptRole);
    box->addButton(QString::fromStdString(prompt.cancelTitle), QMessageBox::RejectRole);
    box->setDefaultButton(confirm);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The answer is given once, whichever way the box goes: a button, Escape, the window's close
    // button or dismissPrompt().
    auto once = std::make_shared<std::function<void(Response)>>(std::move(answered));
    QObject::connect(box, &QDialog::finished, box, [box, confirm, once](int) {
        if (*once) {
            auto answer = std::exchange(*once, {});
            answer(box->clickedButton() == confirm ? Response::confirmed : Response::cancelled);
        }
    });
    box_ = box;
    showModal(*box, window);
    box->raise();
    box->activateWindow();
}

void QtPromptAlertPresenter::dismissPrompt() {
    if (box_) {
        box_->reject(); // finished() answers "cancelled"; the box deletes itself
    }
}

} // namespace velnote
