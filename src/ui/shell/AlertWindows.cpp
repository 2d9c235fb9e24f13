#include "ui/shell/AlertWindows.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>

namespace velnote {
bool isApplicationWindow(const QWidget* widget) {
    const Qt::WindowType type = widget->windowType();
    const Qt::WindowFlags flags = widget->windowFlags();
    return widget->isWindow() && (type == Qt::Window || type == Qt::Dialog) &&
           !flags.testFlag(Qt::FramelessWindowHint) && !flags.testFlag(Qt::BypassWindowManagerHint);
}

QWidget* keyOrFirstWindow() {
    if (QWidget* active = QApplication::activeWindow()) {
        return active;
    }
    return firstVisibleNonPanelWindow();
}

QWidget* firstVisibleNonPanelWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (isApplicationWindow(widget) && widget->isVisible()) {
            return widget;
        }
    }
    return nullptr;
}

void showModal(QDialog& dialog, QWidget* window) {
    if (window != nullptr) {
        dialog.open(); // window-modal on its parent
    } else {
        // open() would make it window-modal, which without a parent blocks nothing.
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
    }
}

} // namespace velnote
